#pragma once
// `quillmere-headless --account NICK --authorize`: the login for a machine
// without a display. It prints the authorize address; the user opens it in a
// browser anywhere, logs in, allows the application and pastes the address of
// the final page (the one holding "access_token=") back on standard input.
// The token is taken from it by the login window's own rule, confirmed with
// the platform and, when the platform names this very seller, stored in
// Config.ini. The key itself is never printed.
#include <functional>
#include <string>

#include "settings/app_session.h"

namespace qm {

// After OpenAccount succeeded on `session`. Returns the exit code: 0 (confirmed and
// stored), kExitNoCredentials, kExitNoToken (no token, or a key of another
// seller; nothing written), kExitSettingsFile (Config.ini not written) or
// kExitSessionRefused (the platform did not confirm it; nothing written). Standard input is read until a line ends.
int RunAuthorize(AppSession& session, const std::function<void(const std::string&)>& printLine);

// The longest pasted line taken; a longer one is refused.
inline constexpr std::size_t kPastedAddressLimit = 64 * 1024;

}  // namespace qm
