// The sandbox's OAuth pages driven by plain HTTP requests, as a browser
// would follow them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/sandbox_calls.h"

namespace qm::test {
namespace {

std::string AttributeOf(const std::string& html, const std::string& name, const std::string& marker) {
  std::size_t at = html.find(marker);
  if (at == std::string::npos) return {};
  std::size_t v = html.find(name + "=\"", at);
  if (v == std::string::npos) return {};
  v += name.size() + 2;
  return html.substr(v, html.find('"', v) - v);
}

std::string PathOf(const Sandbox& sandbox, const std::string& location) {
  const std::string base = sandbox.BaseUrl();
  return location.rfind(base, 0) == 0 ? location.substr(base.size()) : std::string();
}

TEST(SandboxOAuth, LoginConsentAndTokenByPlainHttp) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  const SandboxSeller& s = sandbox.Seller();
  const std::string authorize = "/authorize?response_type=token&client_id=" + s.appKey;
  HttpResult login = HttpGet(sandbox, authorize);
  ASSERT_EQ(login.status, 200);
  for (const char* id : {"id=\"J_Quick2Static\"", "id=\"J_SafeLoginCheck\"", "id=\"TPL_username_1\"",
                         "type=\"password\"", "type=\"submit\""}) {
    EXPECT_NE(login.body.find(id), std::string::npos) << id;
  }
  EXPECT_NE(login.body.find("<a href=\"javascript:void(0)\" id=\"J_Quick2Static\""), std::string::npos);
  EXPECT_EQ(AttributeOf(login.body, "action", "<form id=\"J_Form\""), "/authorize/login");

  HttpResult posted = HttpPost(sandbox, "/authorize/login",
                               "response_type=token&client_id=" + s.appKey + "&TPL_username=" + UrlEncode(s.nick) +
                                   "&TPL_password=" + UrlEncode(s.password) + "&safe_login=1");
  ASSERT_EQ(posted.status, 302) << posted.body;
  const std::string consentPath = PathOf(sandbox, posted.location);
  ASSERT_EQ(consentPath.rfind(authorize + "&timestamp", 0), 0u) << posted.location;

  HttpResult consent = HttpGet(sandbox, consentPath);
  ASSERT_EQ(consent.status, 200);
  EXPECT_NE(consent.body.find("<button type=\"submit\" class=\"sh\""), std::string::npos);
  const std::string ticket = AttributeOf(consent.body, "value", "name=\"ticket\"");
  ASSERT_FALSE(ticket.empty());

  HttpResult agreed = HttpPost(sandbox, "/authorize/consent", "client_id=" + s.appKey + "&ticket=" + ticket + "&agree=1");
  ASSERT_EQ(agreed.status, 302);
  const std::string tokenPage = PathOf(sandbox, agreed.location);
  const std::string prefix = "/oauth2?view=web#access_token=";
  ASSERT_EQ(tokenPage.rfind(prefix, 0), 0u) << agreed.location;
  const std::size_t amp = tokenPage.find('&', prefix.size());
  ASSERT_NE(amp, std::string::npos);
  EXPECT_EQ(tokenPage.substr(prefix.size(), amp - prefix.size()), s.session);
  EXPECT_EQ(HttpGet(sandbox, "/oauth2?view=web").status, 200);

  // The ticket is spent.
  EXPECT_EQ(HttpPost(sandbox, "/authorize/consent", "client_id=" + s.appKey + "&ticket=" + ticket + "&agree=1").status,
            400);
}

TEST(SandboxOAuth, WrongPasswordsUnknownClientsAndOtherSellersGetErrorPages) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  const SandboxSeller& s = sandbox.Seller();
  HttpResult wrong = HttpPost(sandbox, "/authorize/login",
                              "response_type=token&client_id=" + s.appKey + "&TPL_username=" + UrlEncode(s.nick) +
                                  "&TPL_password=" + UrlEncode(s.password + "x"));
  EXPECT_EQ(wrong.status, 401);
  EXPECT_TRUE(wrong.location.empty());
  EXPECT_NE(wrong.body.find("J_Message"), std::string::npos);

  HttpResult unknown = HttpGet(sandbox, "/authorize?response_type=token&client_id=12345678");
  EXPECT_EQ(unknown.status, 400);
  EXPECT_EQ(unknown.body.find("TPL_username_1"), std::string::npos);
  EXPECT_EQ(HttpGet(sandbox, "/authorize?response_type=code&client_id=" + s.appKey).status, 400);
  // A consent address with a made-up ticket.
  EXPECT_EQ(HttpGet(sandbox, "/authorize?response_type=token&client_id=" + s.appKey + "&timestamp=1&ticket=x").status,
            400);

  // The other seller, with the right password, cannot grant the demo seller's application.
  auto sellers = nlohmann::json::parse(sandbox.AdminGet("sellers"));
  ASSERT_EQ(sellers.size(), 4u);
  EXPECT_EQ(sellers[2]["app_key"].get<std::string>().size(), 7u);
  EXPECT_EQ(sellers[3]["app_key"].get<std::string>().size(), 9u);
  const std::string nick2 = sellers[1]["nick"], password2 = sellers[1]["password"];
  HttpResult foreign = HttpPost(sandbox, "/authorize/login",
                                "response_type=token&client_id=" + s.appKey + "&TPL_username=" + UrlEncode(nick2) +
                                    "&TPL_password=" + UrlEncode(password2));
  EXPECT_NE(foreign.status, 302);
}

TEST(SandboxOAuth, CancellingConsentGivesNoToken) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  const SandboxSeller& s = sandbox.Seller();
  HttpResult posted = HttpPost(sandbox, "/authorize/login",
                               "response_type=token&client_id=" + s.appKey + "&TPL_username=" + UrlEncode(s.nick) +
                                   "&TPL_password=" + UrlEncode(s.password));
  const std::string ticket = posted.location.substr(posted.location.find("ticket=") + 7);
  HttpResult cancelled = HttpPost(sandbox, "/authorize/consent", "client_id=" + s.appKey + "&ticket=" + ticket + "&agree=0");
  EXPECT_EQ(cancelled.status, 302);
  EXPECT_EQ(cancelled.location.find("access_token="), std::string::npos);
}

}  // namespace
}  // namespace qm::test
