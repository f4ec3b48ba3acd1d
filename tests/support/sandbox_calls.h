#pragma once
// Plain HTTP calls to the sandbox marketplace for its own tests: signed
// gateway requests made here (not with the client's signing code, so that
// the two are checked against each other), test-tool posts and XML field
// reading.
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "support/sandbox_process.h"

namespace qm::test {

using Params = std::vector<std::pair<std::string, std::string>>;

struct HttpResult {
  bool ok = false;  // an HTTP answer arrived in full
  int status = 0;
  std::string body;
  std::string location;  // the Location header of a redirect
  std::string setCookie;
};

HttpResult HttpGet(const Sandbox& sandbox, const std::string& target, int timeoutMs = 10000,
                   const std::string& cookie = {});
HttpResult HttpPost(const Sandbox& sandbox, const std::string& target, const std::string& body,
                    int timeoutMs = 10000, const std::string& cookie = {},
                    const std::string& contentType = "application/x-www-form-urlencoded");

std::string Md5UpperHexForTest(const std::string& bytes);
// The gateway's timestamp text of `t`: Beijing time, built without the client's code.
std::string TimestampAt(std::time_t t);
std::string UrlEncode(const std::string& text);

// How to sign a gateway call; the defaults make a correct one.
struct SignOptions {
  bool secretAlsoAtEnd = false;
  bool keepGivenOrder = false;  // sign the parameters in the order given instead of sorted
  bool lowerCaseHex = false;
  std::string timestamp;        // empty: now
  std::string session = "\x01";  // "\x01": the seller's
  std::string appKey = "\x01";
  std::string secret = "\x01";
};

// The query of a gateway call (with sign), fixed parameters included.
std::string SignedQuery(const Sandbox& sandbox, const std::string& method, const Params& own,
                        const SignOptions& options = {});
HttpResult Gateway(const Sandbox& sandbox, const std::string& method, const Params& own,
                   const SignOptions& options = {});

// One page of taobao.trades.sold.get.
HttpResult SoldPage(const Sandbox& sandbox, const std::string& rateStatus, int pageNo,
                    const std::string& fields = "tid,buyer_nick,end_time", int pageSize = 100);

// The test-tool form of a seller's rating; content is put in encoded as given.
std::string RatingForm(const SandboxSeller& seller, const std::string& tid, const std::string& result,
                       const std::string& encodedContent);
HttpResult PostRating(const Sandbox& sandbox, const std::string& tid, const std::string& result,
                      const std::string& encodedContent);

// The text after the first opening tag up to the next '<' (empty when absent).
std::string FirstValue(const std::string& xml, const std::string& openTag);
// The inner texts of every <name>...</name>.
std::vector<std::string> Elements(const std::string& xml, const std::string& name);
// &amp; &lt; &gt; &quot; &#39; back to characters.
std::string XmlUnescape(const std::string& text);

// Adds one trade through the admin interface; its tid, or empty.
std::string AddTrade(const Sandbox& sandbox, const std::string& jsonObject);

}  // namespace qm::test
