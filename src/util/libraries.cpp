#include "util/libraries.h"

#include <curl/curl.h>
#include <sqlite3.h>

#include <mutex>

namespace qm {

void PrepareLibraries() {
  // Process-wide as the libraries' own state is: libcurl wants its global
  // set-up once before any handle, SQLite its configuration before its first use.
  static std::once_flag once;
  std::call_once(once, [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // SQLite keeps a count of its memory under a global lock on every
    // allocation unless told otherwise; nothing here reads the count.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  });
}

}  // namespace qm
