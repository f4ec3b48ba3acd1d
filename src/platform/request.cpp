#include "platform/request.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "platform/platform_link.h"
#include "platform/platform_time.h"
#include "settings/app_session.h"

namespace qm {
namespace {

// Fixed values that every gateway call writes.
constexpr std::string_view kVersion = "2.0";
constexpr std::string_view kFormat = "xml";
constexpr std::string_view kPartner = "top-apitools";

// Where the query of every gateway call starts.
constexpr std::string_view kRestPath = "/router/rest?sign=";

// The paging parameter of "taobao.trades.sold.get": the gateway's paged calls
// write it right after the method name, ahead of the fixed partner and session.
constexpr std::string_view kPageNo = "page_no";

// The value of `key` in `params`, empty when missing.
const std::string& ValueOf(const RequestParams& params, std::string_view key) {
  static const std::string kEmpty;
  for (const auto& [k, v] : params) {
    if (k == key) return v;
  }
  return kEmpty;
}

bool IsCommonKey(std::string_view key) {
  return key == "app_key" || key == "format" || key == "method" || key == "partner_id" ||
         key == "session" || key == "timestamp" || key == "v";
}

std::string Md5UpperHex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) == 1 &&
            EVP_DigestUpdate(ctx, bytes.data(), bytes.size()) == 1 &&
            EVP_DigestFinal_ex(ctx, digest, &length) == 1;
  EVP_MD_CTX_free(ctx);
  if (!ok) return std::string();
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 0x0F];
  }
  return out;
}

}  // namespace

std::string make_timestamp(const PlatformClock& clock) {
  // The platform's clock: the machine's until the platform has told its time,
  // then carried forward from what it said.
  return FormatPlatformTime(static_cast<std::int64_t>(std::floor(clock.Now())));
}

std::string sign_request(const RequestParams& params, const std::string& secret) {
  // Sorted by key in ascending byte order (std::string compares bytes as
  // unsigned char). A stable sort keeps a repeated key in the order given.
  std::vector<const std::pair<std::string, std::string>*> sorted;
  sorted.reserve(params.size());
  for (const auto& p : params) sorted.push_back(&p);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto* a, const auto* b) { return a->first < b->first; });

  // The secret stands only at the front; each key is followed directly by its
  // value, with no separators and nothing after the last value.
  std::string base = secret;
  for (const auto* p : sorted) {
    base += p->first;
    base += p->second;
  }
  // The base is digested as bytes of the local code page. Every value of the
  // gateway calls (keys, secrets, session keys, method names, digits, the
  // timestamp, field lists) is ASCII, and ASCII has the same bytes in GBK and
  // in UTF-8, so the UTF-8 bytes held here are exactly the bytes to digest.
  return Md5UpperHex(base);
}

RequestParams GatewayParams(const Account& account, const std::string& method, const std::string& timestamp,
                            const RequestParams& own) {
  RequestParams params = {
      {"app_key", account.appKey},
      {"format", std::string(kFormat)},
      {"method", method},
      {"partner_id", std::string(kPartner)},
      {"session", account.sessionKey},
      {"timestamp", timestamp},
      {"v", std::string(kVersion)},
  };
  params.insert(params.end(), own.begin(), own.end());
  return params;
}

std::string build_gateway_url(const Account& account, const RequestParams& params) {
  // Values go in as they are, without percent-encoding: every value of these
  // calls is ASCII. The timestamp's one space is turned into %20 by the
  // transport when it sends the URL.
  const std::string& pageNo = ValueOf(params, kPageNo);
  bool paged = std::any_of(params.begin(), params.end(),
                           [](const auto& p) { return p.first == kPageNo; });

  std::string url = account.endpoints.gateway;
  url += kRestPath;
  url += sign_request(params, account.appSecret);
  url += "&timestamp=";
  url += ValueOf(params, "timestamp");
  url += "&v=";
  url += ValueOf(params, "v");
  url += "&app_key=";
  url += ValueOf(params, "app_key");
  url += "&method=";
  url += ValueOf(params, "method");
  if (paged) {
    url += "&page_no=";
    url += pageNo;
  }
  url += "&partner_id=";
  url += ValueOf(params, "partner_id");
  url += "&session=";
  url += ValueOf(params, "session");
  url += "&format=";
  url += ValueOf(params, "format");
  for (const auto& [key, value] : params) {
    if (IsCommonKey(key) || key == kPageNo) continue;
    url += '&';
    url += key;
    url += '=';
    url += value;
  }
  return url;
}

std::string TimeGetUrl(const Account& account) {
  return build_gateway_url(account, GatewayParams(account, "taobao.time.get", make_timestamp(ClockOf(account))));
}

std::string SellerGetUrl(const Account& account) {
  return build_gateway_url(account, GatewayParams(account, "taobao.user.seller.get", make_timestamp(ClockOf(account)),
                                                  {{"fields", "user_id,nick,avatar"}}));
}

std::string TradeRatesGetUrl(const std::string& tid, const Account& account) {
  return TradeRatesGetUrl(tid, "get", "buyer", "tid,content,result", account);
}

std::string TradeRatesGetUrl(const std::string& tid, const std::string& rateType, const std::string& role,
                             const std::string& fields, const Account& account) {
  return build_gateway_url(account, GatewayParams(account, "taobao.traderates.get", make_timestamp(ClockOf(account)),
                                                  {{"rate_type", rateType}, {"role", role}, {"tid", tid}, {"fields", fields}}));
}

std::string TradesSoldGetUrl(const std::string& rateStatus, int pageNo, const std::string& fields,
                             const Account& account) {
  return build_gateway_url(account, GatewayParams(account, "taobao.trades.sold.get", make_timestamp(ClockOf(account)),
                                                  {{"page_no", std::to_string(pageNo)},
                                                   {"page_size", "100"},
                                                   {"rate_status", rateStatus},
                                                   {"status", "TRADE_FINISHED"},
                                                   {"use_has_next", "true"},
                                                   {"fields", fields}}));
}

}  // namespace qm
