include_guard(GLOBAL)
# isp_install_gzipped(SOURCE DESTINATION [NAME name])
# Installs SOURCE compressed as Debian wants its manual pages and changelogs:
# gzip -9 -n, no name or time stamp inside, so the same text gives the same
# bytes in every build. NAME is the installed name without .gz (default: the
# source's file name).
function(isp_install_gzipped source destination)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "NAME" "")
  get_filename_component(source "${source}" ABSOLUTE)
  if(arg_NAME)
    set(name ${arg_NAME})
  else()
    get_filename_component(name "${source}" NAME)
  endif()
  set(output ${CMAKE_CURRENT_BINARY_DIR}/gzipped/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/gzipped
    COMMAND gzip -9 -n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${name}")
  string(MAKE_C_IDENTIFIER "isp_gzip_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${output})
  install(FILES ${output} DESTINATION ${destination})
endfunction()
