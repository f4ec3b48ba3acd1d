#pragma once
// The libraries' own process-wide set-up.

namespace qm {

// libcurl's global set-up and SQLite's configuration, done once for the
// process before either library's first use; every user calls it first. Safe
// from any thread.
void PrepareLibraries();

}  // namespace qm
