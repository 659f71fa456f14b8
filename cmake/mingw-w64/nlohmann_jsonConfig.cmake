include(${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake)
isp_host_headers(nlohmann_json::nlohmann_json nlohmann nlohmann_json)
