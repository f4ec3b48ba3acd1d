#include "platform/authorize.h"

#include "settings/app_session.h"

namespace qm {

std::string AuthorizePrefix(const Endpoints& endpoints) { return endpoints.oauth + "/authorize?response_type=token&client_id="; }

std::string AuthorizeAddress(const Endpoints& endpoints, const std::string& appKey) {
  return AuthorizePrefix(endpoints) + appKey;
}

std::string TokenPagePrefix(const Endpoints& endpoints) { return endpoints.oauth + "/oauth2?view=web#access_token="; }

std::string TokenFromAddress(const std::string& address) {
  static constexpr std::string_view kOpen = "access_token=";
  const std::size_t open = address.find(kOpen);
  if (open == std::string::npos) return {};
  const std::size_t start = open + kOpen.size();
  const std::size_t close = address.find('&', start);
  if (close == std::string::npos) return {};
  std::string token = address.substr(start, close - start);
  if (token.size() > kTokenLimit) return {};
  for (unsigned char c : token) {
    if (c <= 0x20 || c >= 0x7F) return {};
  }
  return token;
}

bool IsEightCharacterLoginPage(const Endpoints& endpoints, const std::string& address) {
  const std::string prefix = AuthorizePrefix(endpoints);
  return address.size() == prefix.size() + 8 && address.compare(0, prefix.size(), prefix) == 0;
}

bool IsConsentPage(const Endpoints& endpoints, const std::string& address, const std::string& appKey) {
  const std::string prefix = AuthorizePrefix(endpoints);
  const std::string built = prefix + appKey + "&timestamp";
  const std::size_t n = prefix.size() + 18;
  return address.substr(0, n) == built;
}

}  // namespace qm
