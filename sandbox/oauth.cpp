// The OAuth pages (implicit grant): the login page at
// "/authorize?response_type=token&client_id=KEY", the consent page at an
// address that continues with "&timestamp=...", and the token page
// "/oauth2?view=web#access_token=...&...".
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <unordered_map>

#include "context.h"
#include "html_page.h"
#include "text.h"

namespace qm::sandbox {

namespace {

constexpr std::time_t kTicketLifetime = 10 * 60;

// Logged-in browsers between the login and the consent.
class Tickets {
 public:
  std::string Issue(int seller, const std::string& clientId, std::time_t now) {
    std::lock_guard lock(mutex_);
    std::string ticket;
    static const char* kHex = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) ticket += kHex[rng_() % 16];
    // Drop the stale ones now and then.
    for (auto it = tickets_.begin(); it != tickets_.end();) {
      it = it->second.expires < now ? tickets_.erase(it) : std::next(it);
    }
    tickets_[ticket] = Entry{seller, clientId, now + kTicketLifetime};
    return ticket;
  }
  // The seller of a live ticket for this client, or -1; consume removes it.
  int Check(const std::string& ticket, const std::string& clientId, std::time_t now, bool consume) {
    std::lock_guard lock(mutex_);
    auto it = tickets_.find(ticket);
    if (it == tickets_.end() || it->second.clientId != clientId || it->second.expires < now) return -1;
    const int seller = it->second.seller;
    if (consume) tickets_.erase(it);
    return seller;
  }

 private:
  struct Entry {
    int seller;
    std::string clientId;
    std::time_t expires;
  };
  std::mutex mutex_;
  std::mt19937_64 rng_{std::random_device{}()};
  std::unordered_map<std::string, Entry> tickets_;
};

// The login window shows its browser through a viewport from 104 pixels right
// and 250 down; the platform's pages keep their box inside it.
constexpr const char* kOAuthBox =
    "<div class=\"box\" style=\"position:absolute;left:116px;top:262px;width:352px;margin:0;padding:14px 24px\">";

std::string LoginPage(const std::string& clientId, const std::string& userName, const std::string& error) {
  const std::string id = XmlEscape(clientId);
  std::string b;
  b += std::string(kOAuthBox) + "\n<h2>登录淘宝，授权应用</h2>\n";
  if (!error.empty()) b += "<div class=\"error\" id=\"J_Message\">" + XmlEscape(error) + "</div>\n";
  // The quick login (scan a code with the phone) comes first; the link
  // below it switches to the password form. Clicking it again keeps the form.
  b += "<div id=\"J_QuickLogin\"" + std::string(error.empty() ? "" : " style=\"display:none\"") +
       "><p>手机淘宝扫码，安全登录</p>"
       "<div style=\"width:140px;height:140px;background:repeating-linear-gradient(45deg,#333 0 6px,#fff 6px 12px)\">"
       "</div>\n"
       "<p><a href=\"javascript:void(0)\" id=\"J_Quick2Static\" onclick=\"qmShowStatic();return false;\">"
       "密码登录</a></p></div>\n";
  b += "<div id=\"J_StaticForm\"" + std::string(error.empty() ? " style=\"display:none\"" : "") +
       ">\n<form id=\"J_Form\" method=\"post\" action=\"/authorize/login\">\n"
       "<input type=\"hidden\" name=\"response_type\" value=\"token\">\n"
       "<input type=\"hidden\" name=\"client_id\" value=\"" + id + "\">\n"
       "<div>账户名：<input type=\"text\" id=\"TPL_username_1\" name=\"TPL_username\" "
       "placeholder=\"会员名/邮箱/手机号\" value=\"" + XmlEscape(userName) + "\"></div>\n"
       "<div>密　码：<input type=\"password\" id=\"TPL_password_1\" name=\"TPL_password\"></div>\n"
       "<div class=\"note\"><label><input type=\"checkbox\" id=\"J_SafeLoginCheck\" name=\"safe_login\" "
       "value=\"1\" checked> 安全控件登录</label></div>\n"
       "<div><button type=\"submit\" id=\"J_SubmitStatic\">登 录</button></div>\n</form>\n"
       "<p><a href=\"javascript:void(0)\" id=\"J_Static2Quick\" onclick=\"qmShowQuick();return false;\">"
       "扫码登录</a></p></div>\n</div>\n"
       "<script>function qmShowStatic(){document.getElementById('J_QuickLogin').style.display='none';"
       "document.getElementById('J_StaticForm').style.display='block';}"
       "function qmShowQuick(){document.getElementById('J_QuickLogin').style.display='block';"
       "document.getElementById('J_StaticForm').style.display='none';}</script>";
  return HtmlPage("淘宝网 - 登录", b);
}

std::string ConsentPage(const Seller& seller, const std::string& clientId, const std::string& ticket) {
  std::string b = std::string(kOAuthBox) + "\n<h2>授权确认</h2>\n<p>应用（client_id " + XmlEscape(clientId) +
                  "）申请使用您的账号 <b>" + XmlEscape(seller.nick) +
                  "</b>：</p><ul><li>读取您的基本信息</li><li>读取您已卖出的交易</li><li>读取和发布交易评价</li></ul>\n"
                  "<form id=\"J_AuthForm\" method=\"post\" action=\"/authorize/consent\">\n"
                  "<input type=\"hidden\" name=\"client_id\" value=\"" + XmlEscape(clientId) + "\">\n"
                  "<input type=\"hidden\" name=\"ticket\" value=\"" + XmlEscape(ticket) + "\">\n"
                  "<button type=\"submit\" class=\"sh\" name=\"agree\" value=\"1\">授权并登录</button>\n"
                  "<button type=\"submit\" class=\"cancel\" name=\"agree\" value=\"0\">取消</button>\n"
                  "</form>\n</div>";
  return HtmlPage("淘宝网 - 授权", b);
}

// Checks response_type and client_id; on failure writes the error page.
int AppSeller(Context& ctx, httplib::Response& res, const std::string& responseType, const std::string& clientId) {
  if (responseType != "token") {
    ErrorPage(res, 400, "授权失败", "不支持的 response_type：" + responseType + "（只支持 token）");
    return -1;
  }
  const int seller = ctx.market.SellerByAppKey(clientId);
  if (seller < 0) ErrorPage(res, 400, "授权失败", "无效的应用：client_id " + clientId + " 不存在");
  return seller;
}

}  // namespace

void RegisterOAuth(httplib::Server& server, Context& ctx) {
  auto tickets = std::make_shared<Tickets>();

  server.Get("/authorize", Served(ctx, [&ctx, tickets](const httplib::Request& req, httplib::Response& res) {
               const std::string clientId = req.get_param_value("client_id");
               if (AppSeller(ctx, res, req.get_param_value("response_type"), clientId) < 0) return;
               if (req.has_param("timestamp") || req.has_param("ticket")) {
                 const int seller = tickets->Check(req.get_param_value("ticket"), clientId, ctx.clock.Now(), false);
                 if (seller < 0) return ErrorPage(res, 400, "授权失败", "登录已失效，请重新登录");
                 res.set_content(ConsentPage(*ctx.market.SellerAt(seller), clientId, req.get_param_value("ticket")),
                                 kHtmlContentType);
                 return;
               }
               res.set_content(LoginPage(clientId, "", ""), kHtmlContentType);
             }));

  server.Post("/authorize/login", Served(ctx, [&ctx, tickets](const httplib::Request& req, httplib::Response& res) {
                const FormFields form = ParseForm(req.body);
                auto field = [&](const char* name) { return FormValue(form, name).value_or(std::string()); };
                const std::string clientId = field("client_id");
                const int appSeller = AppSeller(ctx, res, field("response_type"), clientId);
                if (appSeller < 0) return;
                const std::string user = field("TPL_username");
                const int seller = ctx.market.SellerByNick(user);
                const auto data = seller >= 0 ? ctx.market.SellerAt(seller) : std::nullopt;
                if (!data || field("TPL_password") != data->password) {
                  res.status = 401;
                  res.set_content(LoginPage(clientId, user, "您输入的密码和账户名不匹配"), kHtmlContentType);
                  return;
                }
                if (seller != appSeller) {
                  res.status = 403;
                  res.set_content(LoginPage(clientId, user, "该账号未开通此应用，不能授权"), kHtmlContentType);
                  return;
                }
                const std::time_t now = ctx.clock.Now();
                const std::string ticket = tickets->Issue(seller, clientId, now);
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
                res.status = 302;
                res.set_header("Location", RequestBase(ctx, req) + "/authorize?response_type=token&client_id=" +
                                               PercentEncode(clientId) + "&timestamp=" + std::to_string(ms) +
                                               "&ticket=" + ticket);
                res.set_header("Set-Cookie", "qm_seller=" + data->userId + "; Path=/; HttpOnly");
              }));

  server.Post("/authorize/consent", Served(ctx, [&ctx, tickets](const httplib::Request& req, httplib::Response& res) {
                const FormFields form = ParseForm(req.body);
                auto field = [&](const char* name) { return FormValue(form, name).value_or(std::string()); };
                const std::string clientId = field("client_id");
                const int seller = tickets->Check(field("ticket"), clientId, ctx.clock.Now(), true);
                if (seller < 0) return ErrorPage(res, 400, "授权失败", "登录已失效，请重新登录");
                const Seller data = *ctx.market.SellerAt(seller);
                res.status = 302;
                if (field("agree") != "1") {
                  res.set_header("Location", RequestBase(ctx, req) +
                                                 "/oauth2?view=web#error=access_denied&error_description=" +
                                                 PercentEncode("用户取消了授权"));
                  return;
                }
                res.set_header("Location", RequestBase(ctx, req) + "/oauth2?view=web#access_token=" + data.session +
                                               "&token_type=Bearer&expires_in=86400&refresh_token=" + data.session +
                                               "r&re_expires_in=2592000&taobao_user_id=" + data.userId +
                                               "&taobao_user_nick=" + PercentEncode(data.nick));
              }));

  server.Get("/oauth2", Served(ctx, [](const httplib::Request&, httplib::Response& res) {
               res.set_content(HtmlPage("淘宝网 - 授权结果",
                                        "<div class=\"box\"><h2>授权完成</h2><p id=\"J_Result\">"
                                        "授权结果在本页地址中，可以关闭本页。</p></div>"),
                               kHtmlContentType);
             }));
}

}  // namespace qm::sandbox
