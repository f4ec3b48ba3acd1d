# Windows check: SQLite's header only.
include(${CMAKE_CURRENT_LIST_DIR}/WindowsHeaders.cmake)
qm_windows_headers_target(SQLite::SQLite3)
set(SQLite3_FOUND TRUE)
