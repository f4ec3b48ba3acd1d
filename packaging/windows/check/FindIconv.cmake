# Windows check: the declarations of GNU libiconv, which Windows builds link.
include(${CMAKE_CURRENT_LIST_DIR}/WindowsHeaders.cmake)
qm_windows_headers_target(Iconv::Iconv)
set(Iconv_FOUND TRUE)
