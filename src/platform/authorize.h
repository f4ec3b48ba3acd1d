#pragma once
// The addresses of the authorization (the platform's OAuth pages, implicit
// grant) and the rule that takes the session key out of the final page's
// address. The desktop's login window and the runner's --authorize share them.
#include <string>

#include "settings/app_session.h"

namespace qm {

// The endpoints' OAuth host (the public one, or the --platform base) followed by
// "/authorize?response_type=token&client_id=".
std::string AuthorizePrefix(const Endpoints& endpoints);
// AuthorizePrefix() + the application key.
std::string AuthorizeAddress(const Endpoints& endpoints, const std::string& appKey);
// The OAuth host followed by "/oauth2?view=web#access_token=".
std::string TokenPagePrefix(const Endpoints& endpoints);

// The text between "access_token=" and the next "&"; empty when the address
// has no "access_token=", no "&" after it, or a token that is no token
// (longer than kTokenLimit or holding anything but visible ASCII), since
// the key goes into Config.ini and into every request.
std::string TokenFromAddress(const std::string& address);
inline constexpr std::size_t kTokenLimit = 1024;

// The authorize address of an 8-character client id: exactly 8 characters
// longer than the prefix and beginning with it (the login form is prepared
// only there).
bool IsEightCharacterLoginPage(const Endpoints& endpoints, const std::string& address);

// The consent page after the login: the first (prefix length + 18)
// characters of the address equal prefix + appKey + "&timestamp", which can
// only hold for a key of 8 characters.
bool IsConsentPage(const Endpoints& endpoints, const std::string& address, const std::string& appKey);

}  // namespace qm
