# Header-only libraries for the Windows build, taken from the Debian
# packages on this machine (libcli11-dev, nlohmann-json3-dev). Their own
# CMake files name /usr/include, which would put glibc's headers in front of
# MinGW-w64's; here a target sees a folder holding a link to the library's
# own header folder, and nothing else of /usr/include.
#   isp_host_headers(TARGET FOLDER PACKAGE)
function(isp_host_headers target folder package)
  if(TARGET ${target})
    return()
  endif()
  if(NOT IS_DIRECTORY /usr/include/${folder})
    set(${package}_FOUND FALSE PARENT_SCOPE)
    set(${package}_NOT_FOUND_MESSAGE "/usr/include/${folder} is missing" PARENT_SCOPE)
    return()
  endif()
  set(stage ${CMAKE_BINARY_DIR}/host-headers/${package})
  file(MAKE_DIRECTORY ${stage})
  if(NOT EXISTS ${stage}/${folder})
    file(CREATE_LINK /usr/include/${folder} ${stage}/${folder} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${stage})
endfunction()
