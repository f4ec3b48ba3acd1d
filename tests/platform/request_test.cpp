// Gateway URLs and signatures. Every expected URL is written out here from its
// documented pieces, and every expected digest comes from md5sum or from the
// published MD5 test values, never from the code under test.
#include "platform/request.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "platform/platform_link.h"
#include "settings/app_session.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// MD5 of `bytes` in upper-case hex, computed by the md5sum program.
std::string Md5sum(const std::string& bytes) {
  test::TempDir dir;
  const std::string file = dir.File("base.bin");
  if (!test::WriteFileBytes(file, bytes)) return "write failed";
  std::FILE* pipe = ::popen(("md5sum '" + file + "'").c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  char line[128] = {};
  std::string out;
  if (std::fgets(line, sizeof line, pipe) != nullptr) out.assign(line, 32);
  ::pclose(pipe);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The text between `open` and the next `close` (for taking a URL apart).
std::string Between(const std::string& text, const std::string& open, const std::string& close) {
  auto a = text.find(open);
  if (a == std::string::npos) return "";
  a += open.size();
  auto b = text.find(close, a);
  return b == std::string::npos ? "" : text.substr(a, b - a);
}

class GatewayUrls : public ::testing::Test {
 protected:
  Account account{"12345678", "s3cr3tS3CR3Ts3cr3tS3CR3Ts3cr3t00", "6100e23b1ac7dd3a9b2f0ZZZ1234567890", Endpoints(), "", "",
                  std::make_shared<PlatformLink>()};

  const std::string& key() const { return account.appKey; }
  const std::string& secret() const { return account.appSecret; }
  const std::string& session() const { return account.sessionKey; }
  std::string host() const { return account.endpoints.gateway; }
};

TEST(Signature, IsTheUpperCaseMd5OfSecretThenSortedPairs) {
  // Published MD5 values: "" and "abc".
  EXPECT_EQ(sign_request({}, ""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(sign_request({}, "abc"), "900150983CD24FB0D6963F7D28E17F72");
  // The secret stands only in front; key and value follow without separators.
  EXPECT_EQ(sign_request({{"b", "c"}}, "a"), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(sign_request({{"ab", "c"}}, ""), "900150983CD24FB0D6963F7D28E17F72");

  const RequestParams given = {{"v", "2.0"}, {"timestamp", "2014-09-19 09:05:03"}, {"tid", "42"},
                               {"role", "buyer"}, {"rate_type", "get"}, {"app_key", "k"},
                               {"Zeta", "upper"}};
  const std::string sorted = std::string("S") + "Zetaupper" + "app_keyk" + "rate_typeget" + "rolebuyer" +
                             "tid42" + "timestamp2014-09-19 09:05:03" + "v2.0";
  EXPECT_EQ(sign_request(given, "S"), Md5sum(sorted));
  // The same pairs in the order given make another digest: sorting matters.
  std::string unsorted = "S";
  for (const auto& [k, v] : given) unsorted += k + v;
  EXPECT_NE(Md5sum(unsorted), Md5sum(sorted));
}

TEST_F(GatewayUrls, TimeGet) {
  const std::string url = TimeGetUrl(account);
  const std::string ts = Between(url, "&timestamp=", "&v=");
  ASSERT_EQ(ts.size(), 19u);
  const std::string base = secret() + "app_key" + key() + "formatxmlmethodtaobao.time.get" +
                           "partner_idtop-apitoolssession" + session() + "timestamp" + ts + "v2.0";
  EXPECT_EQ(url, host() + "/router/rest?sign=" + Md5sum(base) + "&timestamp=" + ts + "&v=2.0&app_key=" +
                     key() + "&method=taobao.time.get" + "&partner_id=top-apitools&session=" + session() +
                     "&format=xml");
}

TEST_F(GatewayUrls, SellerGet) {
  const std::string url = SellerGetUrl(account);
  const std::string ts = Between(url, "&timestamp=", "&v=");
  ASSERT_EQ(ts.size(), 19u);
  const std::string base = secret() + "app_key" + key() + "fields" + "user_id,nick,avatar" +
                           "formatxmlmethod" + "taobao.user.seller.get" + "partner_idtop-apitoolssession" +
                           session() + "timestamp" + ts + "v2.0";
  EXPECT_EQ(url, host() + "/router/rest?sign=" + Md5sum(base) + "&timestamp=" + ts + "&v=2.0&app_key=" +
                     key() + "&method=taobao.user.seller.get" + "&partner_id=top-apitools&session=" +
                     session() + "&format=xml&fields=" + "user_id,nick,avatar");
}

TEST_F(GatewayUrls, TradeRatesGet) {
  const std::string tid = "198765432101234";
  const std::string url = TradeRatesGetUrl(tid, account);
  const std::string ts = Between(url, "&timestamp=", "&v=");
  ASSERT_EQ(ts.size(), 19u);
  // The documented layout, with its constant runs kept as single literals.
  const std::string base = secret() + "app_key" + key() + "fields" + "tid,content,result" + "formatxmlmethod" +
                           "taobao.traderates.get" + "partner_id" + "top-apitools" +
                           "rate_typegetrolebuyersession" + session() + "tid" + tid + "timestamp" + ts + "v2.0";
  EXPECT_EQ(url, host() + "/router/rest?sign=" + Md5sum(base) + "&timestamp=" + ts + "&v=2.0&app_key=" +
                     key() + "&method=taobao.traderates.get" + "&partner_id=top-apitools&session=" + session() +
                     "&format=xml" + "&rate_type=get&role=buyer&tid=" + tid + "&fields=" + "tid,content,result");
}

TEST_F(GatewayUrls, TradesSoldGetForEachRateStatus) {
  struct Case {
    std::string rateStatus, fields;
    int page;
  };
  for (const Case& c : {Case{"RATE_UNBUYER", "tid,buyer_nick,end_time", 1},
                        Case{"RATE_UNSELLER", "tid,buyer_nick,end_time", 2},
                        Case{"RATE_BUYER_UNSELLER", "tid,buyer_nick", 17}}) {
    const std::string url = TradesSoldGetUrl(c.rateStatus, c.page, c.fields, account);
    const std::string ts = Between(url, "&timestamp=", "&v=");
    ASSERT_EQ(ts.size(), 19u);
    const std::string page = std::to_string(c.page);
    const std::string base = secret() + "app_key" + key() + "fields" + c.fields + "formatxml" +
                             "methodtaobao.trades.sold.get" + "page_no" + page + "page_size100" +
                             "partner_idtop-apitools" + "rate_status" + c.rateStatus + "session" + session() +
                             "statusTRADE_FINISHED" + "timestamp" + ts + "use_has_nexttrue" + "v2.0";
    EXPECT_EQ(url, host() + "/router/rest?sign=" + Md5sum(base) + "&timestamp=" + ts + "&v=2.0&app_key=" +
                       key() + "&method=" + "taobao.trades.sold.get" + "&page_no=" + page +
                       "&partner_id=" + "top-apitools" + "&session=" + session() + "&format=" + "xml" +
                       "&page_size=100&rate_status=" + c.rateStatus +
                       "&status=TRADE_FINISHED&use_has_next=true&fields=" + c.fields)
        << c.rateStatus;
  }
}

TEST_F(GatewayUrls, PlatformBaseChangesTheHostOnly) {
  const RequestParams p = GatewayParams(account, "taobao.traderates.get", "2014-09-19 09:05:03",
                                        {{"rate_type", "get"}, {"role", "buyer"}, {"tid", "7"},
                                         {"fields", "tid,content,result"}});
  const std::string publicUrl = build_gateway_url(account, p);
  account.endpoints = Endpoints::AtBase("http://127.0.0.1:8123/");
  const std::string sandboxUrl = build_gateway_url(account, p);
  const std::string tail = "/router/rest?sign=";
  ASSERT_EQ(publicUrl.rfind("https://gw.api.taobao.com" + tail, 0), 0u) << publicUrl;
  ASSERT_EQ(sandboxUrl.rfind("http://127.0.0.1:8123" + tail, 0), 0u) << sandboxUrl;
  EXPECT_EQ(publicUrl.substr(publicUrl.find(tail)), sandboxUrl.substr(sandboxUrl.find(tail)));
}

TEST_F(GatewayUrls, MissingCredentialsLeaveEmptyPieces) {
  account.appKey.clear();
  account.sessionKey.clear();
  const std::string ts = "2014-01-02 03:04:05";
  const std::string url = build_gateway_url(account, GatewayParams(account, "taobao.time.get", ts));
  const std::string base = secret() + "app_key" + "formatxmlmethodtaobao.time.get" +
                           "partner_idtop-apitoolssession" + "timestamp" + ts + "v2.0";
  EXPECT_EQ(url, host() + "/router/rest?sign=" + Md5sum(base) + "&timestamp=" + ts +
                     "&v=2.0&app_key=&method=taobao.time.get&partner_id=top-apitools&session=&format=xml");
}

}  // namespace
}  // namespace qm
