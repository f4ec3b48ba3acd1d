# Windows check: OpenSSL's headers only, with a Windows configuration header.
include(${CMAKE_CURRENT_LIST_DIR}/WindowsHeaders.cmake)
qm_windows_headers_target(OpenSSL::Crypto)
set(OPENSSL_FOUND TRUE)
