#pragma once
// `quillmere-headless --account NICK --authorize`: the login for a machine
// without a display. It prints the authorize address; the user opens it in a
// browser anywhere, logs in, allows the application and pastes the address of
// the final page (the one holding "access_token=") back on standard input.
// The token is taken from it by the login window's own rule, stored in
// Config.ini and confirmed with the platform. The key itself is never printed.
#include <functional>
#include <string>

namespace qm {

// After OpenAccount succeeded. Returns the exit code: 0 (stored and
// confirmed), kExitNoCredentials, kExitNoToken (nothing written),
// kExitSettingsFile (Config.ini not written) or kExitSessionRefused (stored,
// but the platform did not confirm it). Standard input is read until a line ends.
int RunAuthorize(const std::function<void(const std::string&)>& printLine);

// The longest pasted line taken; a longer one is refused.
inline constexpr std::size_t kPastedAddressLimit = 64 * 1024;

}  // namespace qm
