# The library headers of the Windows check. SQLite's sqlite3.h and curl's
# headers are the same for every architecture (curl's system.h picks its
# types for MinGW itself), so Debian's are used, linked into one folder with
# nothing else from /usr/include beside them. OpenSSL's per-architecture
# configuration and iconv's declarations come from packaging/windows/include.
include_guard(GLOBAL)
set(QM_WINDOWS_HEADERS ${CMAKE_BINARY_DIR}/windows-headers)
file(MAKE_DIRECTORY ${QM_WINDOWS_HEADERS})
foreach(pair "curl=/usr/include/x86_64-linux-gnu/curl" "openssl=/usr/include/openssl" "sqlite3.h=/usr/include/sqlite3.h")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 from)
  if(NOT EXISTS ${from})
    message(FATAL_ERROR "The Windows check needs ${from} (scripts/install-deps.sh installs it)")
  endif()
  file(CREATE_LINK ${from} ${QM_WINDOWS_HEADERS}/${name} SYMBOLIC)
endforeach()
# The project's own stand-ins come first: they replace Debian's Linux-only ones.
set(QM_WINDOWS_INCLUDE_DIRS ${CMAKE_CURRENT_LIST_DIR}/../include ${QM_WINDOWS_HEADERS})

# An imported target that gives only the headers: the check links no library.
function(qm_windows_headers_target target)
  if(NOT TARGET ${target})
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${QM_WINDOWS_INCLUDE_DIRS}")
  endif()
endfunction()
