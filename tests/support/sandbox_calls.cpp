#include "support/sandbox_calls.h"

#include <httplib.h>
#include <openssl/evp.h>

#include <algorithm>
#include <nlohmann/json.hpp>

namespace qm::test {

namespace {

HttpResult From(const httplib::Result& res) {
  HttpResult r;
  if (!res) return r;
  r.ok = true;
  r.status = res->status;
  r.body = res->body;
  r.location = res->get_header_value("Location");
  r.setCookie = res->get_header_value("Set-Cookie");
  return r;
}

httplib::Client MakeClient(const Sandbox& sandbox, int timeoutMs) {
  httplib::Client client("127.0.0.1", sandbox.Port());
  client.set_read_timeout(timeoutMs / 1000, (timeoutMs % 1000) * 1000);
  client.set_connection_timeout(5, 0);
  return client;
}

}  // namespace

HttpResult HttpGet(const Sandbox& sandbox, const std::string& target, int timeoutMs, const std::string& cookie) {
  auto client = MakeClient(sandbox, timeoutMs);
  httplib::Headers headers;
  if (!cookie.empty()) headers.emplace("Cookie", cookie);
  return From(client.Get(target.c_str(), headers));
}

HttpResult HttpPost(const Sandbox& sandbox, const std::string& target, const std::string& body, int timeoutMs,
                    const std::string& cookie, const std::string& contentType) {
  auto client = MakeClient(sandbox, timeoutMs);
  httplib::Headers headers;
  if (!cookie.empty()) headers.emplace("Cookie", cookie);
  return From(client.Post(target.c_str(), headers, body, contentType.c_str()));
}

std::string Md5UpperHexForTest(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_md5(), nullptr);
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

std::string TimestampAt(std::time_t t) {
  // Beijing time (UTC+8, no daylight saving), as the gateway expects it.
  const std::time_t beijing = t + 8 * 3600;
  std::tm tm{};
  gmtime_r(&beijing, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

std::string UrlEncode(const std::string& text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string SignedQuery(const Sandbox& sandbox, const std::string& method, const Params& own,
                        const SignOptions& options) {
  const SandboxSeller& s = sandbox.Seller();
  auto pick = [](const std::string& given, const std::string& fallback) {
    return given == "\x01" ? fallback : given;
  };
  Params params = {{"app_key", pick(options.appKey, s.appKey)},
                   {"format", "xml"},
                   {"method", method},
                   {"partner_id", "top-apitools"},
                   {"session", pick(options.session, s.session)},
                   {"timestamp", options.timestamp.empty() ? TimestampAt(std::time(nullptr)) : options.timestamp},
                   {"v", "2.0"}};
  params.insert(params.end(), own.begin(), own.end());
  Params signedOrder = params;
  if (!options.keepGivenOrder) std::sort(signedOrder.begin(), signedOrder.end());
  const std::string secret = pick(options.secret, s.appSecret);
  std::string base = secret;
  for (const auto& [k, v] : signedOrder) base += k + v;
  if (options.secretAlsoAtEnd) base += secret;
  std::string sign = Md5UpperHexForTest(base);
  if (options.lowerCaseHex) std::transform(sign.begin(), sign.end(), sign.begin(), ::tolower);
  std::string query = "sign=" + sign;
  for (const auto& [k, v] : params) query += "&" + k + "=" + UrlEncode(v);
  return query;
}

HttpResult Gateway(const Sandbox& sandbox, const std::string& method, const Params& own,
                   const SignOptions& options) {
  return HttpGet(sandbox, "/router/rest?" + SignedQuery(sandbox, method, own, options));
}

HttpResult SoldPage(const Sandbox& sandbox, const std::string& rateStatus, int pageNo, const std::string& fields,
                    int pageSize) {
  return Gateway(sandbox, "taobao.trades.sold.get",
                 {{"fields", fields},
                  {"page_no", std::to_string(pageNo)},
                  {"page_size", std::to_string(pageSize)},
                  {"rate_status", rateStatus},
                  {"status", "TRADE_FINISHED"},
                  {"use_has_next", "true"}});
}

std::string RatingForm(const SandboxSeller& seller, const std::string& tid, const std::string& result,
                       const std::string& encodedContent) {
  return "format=xml&method=taobao.traderate.list.add&restId=2&api_soure=1&app_key=" + seller.appKey +
         "&app_secret=" + seller.appSecret + "&sip_http_method=POST&codeType=JAVA&tid=" + tid + "&result=" + result +
         "&role=seller&content=" + encodedContent + "&anony=&session=" + seller.session + "&ua=";
}

HttpResult PostRating(const Sandbox& sandbox, const std::string& tid, const std::string& result,
                      const std::string& encodedContent) {
  return HttpPost(sandbox, "/apitools/getResult.do", RatingForm(sandbox.Seller(), tid, result, encodedContent));
}

std::string FirstValue(const std::string& xml, const std::string& openTag) {
  std::size_t at = xml.find(openTag);
  if (at == std::string::npos) return {};
  at += openTag.size();
  std::size_t end = xml.find('<', at);
  if (end == std::string::npos) return {};
  return xml.substr(at, end - at);
}

std::vector<std::string> Elements(const std::string& xml, const std::string& name) {
  std::vector<std::string> out;
  const std::string open = "<" + name + ">", close = "</" + name + ">";
  std::size_t pos = 0;
  for (;;) {
    std::size_t a = xml.find(open, pos);
    if (a == std::string::npos) break;
    a += open.size();
    std::size_t b = xml.find(close, a);
    if (b == std::string::npos) break;
    out.push_back(xml.substr(a, b - a));
    pos = b + close.size();
  }
  return out;
}

std::string XmlUnescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      static const std::pair<const char*, char> kEntities[] = {
          {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
      bool matched = false;
      for (const auto& [entity, c] : kEntities) {
        if (text.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
          out += c;
          i += std::char_traits<char>::length(entity) - 1;
          matched = true;
          break;
        }
      }
      if (matched) continue;
    }
    out += text[i];
  }
  return out;
}

std::string AddTrade(const Sandbox& sandbox, const std::string& jsonObject) {
  const std::string reply = sandbox.AdminPost("trades", "{\"trades\":[" + jsonObject + "]}");
  auto json = nlohmann::json::parse(reply, nullptr, false);
  if (json.is_discarded() || !json.contains("tids") || json["tids"].empty()) return {};
  return json["tids"][0].get<std::string>();
}

}  // namespace qm::test
