include(${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake)
isp_host_headers(CLI11::CLI11 CLI CLI11)
