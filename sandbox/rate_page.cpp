// The seller's rating page "/myRate.htm": the ratings the seller gave, with a
// form to change each, and the ratings the buyers gave. The seller is the one
// who logged in through the OAuth page in this browser, or the demo seller.
#include <algorithm>
#include <cstdlib>

#include "context.h"
#include "html_page.h"
#include "text.h"

namespace qm::sandbox {

namespace {

constexpr std::size_t kRowsShown = 100;

const char* RateLabel(Rate r) {
  switch (r) {
    case Rate::Good: return "好评";
    case Rate::Neutral: return "中评";
    case Rate::Bad: return "差评";
    case Rate::None: break;
  }
  return "未评";
}

int PageSeller(Context& ctx, const httplib::Request& req) {
  const std::string cookies = req.get_header_value("Cookie");
  const std::string key = "qm_seller=";
  std::size_t at = cookies.find(key);
  if (at != std::string::npos) {
    at += key.size();
    const std::string userId = cookies.substr(at, cookies.find(';', at) - at);
    for (int i = 0; i < ctx.market.SellerCount(); ++i) {
      if (ctx.market.SellerAt(i)->userId == userId) return i;
    }
  }
  return 0;
}

std::string RatePageHtml(Context& ctx, int seller, const std::string& message) {
  const Seller s = *ctx.market.SellerAt(seller);
  std::string b = "<div class=\"box\"><h2>评价管理 - <span id=\"J_SellerNick\">" + XmlEscape(s.nick) + "</span></h2>\n";
  if (!message.empty()) b += "<p class=\"error\" id=\"J_Message\">" + XmlEscape(message) + "</p>\n";

  std::vector<Trade> given = ctx.market.RatingsGiven(seller);
  std::reverse(given.begin(), given.end());
  b += "<h3>给他人的评价（" + std::to_string(given.size()) + "）</h3>\n<table id=\"J_Given\"><tr><th>订单号</th>"
       "<th>买家</th><th>评价</th><th>评语</th><th>时间</th><th>修改</th></tr>\n";
  for (std::size_t i = 0; i < given.size() && i < kRowsShown; ++i) {
    const Trade& t = given[i];
    const Rating& r = t.sellerRating;
    b += "<tr data-tid=\"" + t.tid + "\"><td>" + t.tid + "</td><td>" + XmlEscape(t.buyerNick) + "</td><td class=\"" +
         RateName(r.result) + "\">" + RateLabel(r.result) + "</td><td>" + XmlEscape(r.content) + "</td><td>" +
         FormatBeijingTime(r.time) + "</td><td><form method=\"post\" action=\"/myRate.htm\">"
         "<input type=\"hidden\" name=\"tid\" value=\"" + t.tid + "\"><select name=\"result\">";
    for (Rate option : {Rate::Good, Rate::Neutral, Rate::Bad}) {
      b += std::string("<option value=\"") + RateName(option) + "\"" + (option == r.result ? " selected" : "") + ">" +
           RateLabel(option) + "</option>";
    }
    b += "</select> <input type=\"text\" name=\"content\" value=\"" + XmlEscape(r.content) +
         "\"> <button type=\"submit\">修改评价</button></form></td></tr>\n";
  }
  b += "</table>\n";

  const std::vector<Trade> received = ctx.market.RatingsReceived(seller, kRowsShown);
  b += "<h3>来自买家的评价</h3>\n<table id=\"J_Received\"><tr><th>订单号</th><th>买家</th><th>评价</th>"
       "<th>评语</th><th>时间</th></tr>\n";
  for (const Trade& t : received) {
    b += "<tr data-tid=\"" + t.tid + "\"><td>" + t.tid + "</td><td>" + XmlEscape(t.buyerNick) + "</td><td class=\"" +
         RateName(t.buyer.result) + "\">" + RateLabel(t.buyer.result) + "</td><td>" + XmlEscape(t.buyer.content) +
         "</td><td>" + FormatBeijingTime(t.buyer.time) + "</td></tr>\n";
  }
  b += "</table></div>";
  return HtmlPage("评价管理", b);
}

}  // namespace

void RegisterRatePage(httplib::Server& server, Context& ctx) {
  server.Get("/myRate.htm", Served(ctx, [&ctx](const httplib::Request& req, httplib::Response& res) {
               res.set_content(RatePageHtml(ctx, PageSeller(ctx, req), req.get_param_value("msg")), kHtmlContentType);
             }));
  server.Post("/myRate.htm", Served(ctx, [&ctx](const httplib::Request& req, httplib::Response& res) {
                const FormFields form = ParseForm(req.body);
                const std::string tid = FormValue(form, "tid").value_or("");
                const std::string content = FormValue(form, "content").value_or("");
                const auto result = ParseRate(FormValue(form, "result").value_or(""));
                const int seller = PageSeller(ctx, req);
                std::string message;
                if (!result) {
                  message = "请选择好评、中评或差评";
                } else if (!IsValidUtf8(content) || Utf8Length(content) > 500) {
                  message = "评语不能超过500字";
                } else {
                  const RateOutcome outcome = ctx.market.ChangeSellerRating(seller, tid, *result, content,
                                                                            ctx.clock.Now());
                  message = outcome == RateOutcome::Ok ? "订单 " + tid + " 的评价已修改"
                                                       : "订单 " + tid + " 的评价不能修改：" + OutcomeText(outcome);
                }
                res.status = 303;
                res.set_header("Location", RequestBase(ctx, req) + "/myRate.htm?msg=" + PercentEncode(message));
              }));
}

}  // namespace qm::sandbox
