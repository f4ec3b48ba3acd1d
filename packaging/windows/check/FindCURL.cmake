# Windows check: libcurl's headers only (WindowsHeaders.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/WindowsHeaders.cmake)
qm_windows_headers_target(CURL::libcurl)
set(CURL_FOUND TRUE)
