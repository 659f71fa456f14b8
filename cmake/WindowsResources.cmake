# The resources every Windows program of the project carries: the program
# icon (app/icons/velmora-isp2.ico, drawn once for every program and
# window), version information from PROJECT_VERSION, and a manifest.
#
#   isp_add_windows_resources(TARGET <target> DESCRIPTION "<text>" MANIFEST <file>
#                             [EXTRA_RC <file>])
#
# DESCRIPTION is the version information's FileDescription (Explorer shows it
# in the file's properties and Task Manager in its list); MANIFEST is the
# program's application manifest (supported systems, execution level, code
# page, DPI awareness), relative to the calling CMakeLists.txt or absolute;
# @ISP_RC_VERSION4@ in it becomes the four-part version an assemblyIdentity
# takes ("0.2.0.0"). EXTRA_RC is a file of further resource statements the
# program needs (the window's message icon, "2 ICON ..."), included as it
# stands; @ISP_RC_ICONS@ in it becomes the icons' folder. Writes
# <target>.manifest and <target>_resources.rc into the build folder and
# compiles them with the target. Icon resource 1 is the one Explorer shows
# for the .exe; an EXTRA_RC uses other ids.
if(NOT WIN32)
  return()
endif()
enable_language(RC)

set(ISP_WINDOWS_RESOURCES_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/WindowsResources.rc.in)

function(isp_add_windows_resources)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;DESCRIPTION;MANIFEST;EXTRA_RC" "")
  if(NOT arg_TARGET OR NOT arg_DESCRIPTION OR NOT arg_MANIFEST)
    message(FATAL_ERROR "isp_add_windows_resources needs TARGET, DESCRIPTION and MANIFEST")
  endif()
  get_filename_component(manifest ${arg_MANIFEST} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})

  # What the template fills in.
  set(ISP_RC_ICONS ${PROJECT_SOURCE_DIR}/app/icons)
  set(ISP_RC_ICON ${ISP_RC_ICONS}/velmora-isp2.ico)
  set(ISP_RC_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${arg_TARGET}.manifest)
  set(ISP_RC_DESCRIPTION ${arg_DESCRIPTION})
  get_target_property(output_name ${arg_TARGET} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${arg_TARGET})
  endif()
  set(ISP_RC_FILE_NAME ${output_name}.exe)
  set(ISP_RC_INTERNAL_NAME ${output_name})
  set(ISP_RC_VERSION_TEXT ${PROJECT_VERSION})
  foreach(part MAJOR MINOR PATCH TWEAK)
    set(ISP_RC_${part} ${PROJECT_VERSION_${part}})
    if(NOT ISP_RC_${part})
      set(ISP_RC_${part} 0)
    endif()
  endforeach()

  set(ISP_RC_VERSION4 ${ISP_RC_MAJOR}.${ISP_RC_MINOR}.${ISP_RC_PATCH}.${ISP_RC_TWEAK})

  configure_file(${manifest} ${ISP_RC_MANIFEST} @ONLY)
  set(ISP_RC_EXTRA "")
  set(depends ${ISP_RC_ICON} ${ISP_RC_MANIFEST})
  if(arg_EXTRA_RC)
    get_filename_component(extra ${arg_EXTRA_RC} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    set(configured_extra ${CMAKE_CURRENT_BINARY_DIR}/${arg_TARGET}_extra.rc)
    configure_file(${extra} ${configured_extra} @ONLY)
    set(ISP_RC_EXTRA "#include \"${configured_extra}\"")
    list(APPEND depends ${configured_extra})
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${arg_TARGET}_resources.rc)
  configure_file(${ISP_WINDOWS_RESOURCES_TEMPLATE} ${rc} @ONLY)
  target_sources(${arg_TARGET} PRIVATE ${rc})
  # windres reads the icon and the manifest itself: rebuild when they change.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${depends}")
endfunction()
