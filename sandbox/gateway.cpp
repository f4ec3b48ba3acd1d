// The REST gateway, GET "/router/rest": checks the signature, the application
// key, the session and the timestamp, then answers taobao.time.get,
// taobao.user.seller.get, taobao.trades.sold.get, taobao.trades.sold.increment.get,
// taobao.trade.get and taobao.traderates.get.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <variant>

#include "context.h"
#include "text.h"
#include "xml_reply.h"

namespace qm::sandbox {

namespace {

// The gateway's error codes.
constexpr int kMissingMethod = 21, kInvalidMethod = 22, kInvalidFormat = 23, kMissingSignature = 24,
              kInvalidSignature = 25, kMissingSession = 26, kInvalidSession = 27, kMissingAppKey = 28,
              kInvalidAppKey = 29, kMissingTimestamp = 30, kInvalidTimestamp = 31, kMissingVersion = 32,
              kInvalidVersion = 33, kMissingArguments = 40, kInvalidArguments = 41;

constexpr std::time_t kTimestampTolerance = 600;

struct Call {
  std::map<std::string, std::string> params;  // sorted by name, as signed
  int seller = -1;
  bool pretty = false;
  std::time_t now = 0;

  const std::string* Get(const std::string& name) const {
    auto it = params.find(name);
    return it == params.end() ? nullptr : &it->second;
  }
  std::string Value(const std::string& name) const {
    const std::string* v = Get(name);
    return v ? *v : std::string();
  }
};

struct Failure {
  int code;
  std::string msg, subCode, subMsg;
};

std::set<std::string> FieldSet(const std::string& list) {
  std::set<std::string> out;
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ',')) {
    item.erase(0, item.find_first_not_of(' '));
    item.erase(item.find_last_not_of(' ') + 1);
    if (!item.empty()) out.insert(item);
  }
  return out;
}

// A positive decimal number no larger than limit, or 0.
std::size_t PositiveNumber(const std::string& text, std::size_t limit) {
  if (!IsDigits(text) || text.size() > 9) return 0;
  std::size_t v = std::strtoul(text.c_str(), nullptr, 10);
  return v > limit ? 0 : v;
}

std::optional<Failure> Check(Context& ctx, const httplib::Request& req, Call& call) {
  for (const auto& [name, value] : req.params) {
    if (!call.params.emplace(name, value).second)
      return Failure{kInvalidArguments, "Invalid arguments:" + name, "isv.invalid-parameter",
                     "parameter " + name + " is given twice"};
  }
  if (!call.Get("method") || call.Value("method").empty()) return Failure{kMissingMethod, "Missing method", "", ""};
  const std::string* appKey = call.Get("app_key");
  if (!appKey || appKey->empty()) return Failure{kMissingAppKey, "Missing app key", "", ""};
  call.seller = ctx.market.SellerByAppKey(*appKey);
  if (call.seller < 0) return Failure{kInvalidAppKey, "Invalid app Key", "", ""};
  const std::string* timestamp = call.Get("timestamp");
  if (!timestamp || timestamp->empty()) return Failure{kMissingTimestamp, "Missing timestamp", "", ""};
  auto ts = ParseBeijingTime(*timestamp);
  if (!ts) return Failure{kInvalidTimestamp, "Invalid timestamp", "", "timestamp must be yyyy-MM-dd HH:mm:ss"};
  if (std::llabs(static_cast<long long>(*ts - call.now)) > kTimestampTolerance)
    return Failure{kInvalidTimestamp, "Invalid timestamp", "",
                   "timestamp is more than ten minutes away from the server time " + FormatBeijingTime(call.now)};
  const std::string* sign = call.Get("sign");
  if (!sign || sign->empty()) return Failure{kMissingSignature, "Missing signature", "", ""};
  auto seller = ctx.market.SellerAt(call.seller);
  std::string base = seller->appSecret;
  for (const auto& [name, value] : call.params) {
    if (name == "sign") continue;
    base += name;
    base += value;
  }
  if (*sign != Md5UpperHex(base)) return Failure{kInvalidSignature, "Invalid signature", "", ""};
  const std::string* v = call.Get("v");
  if (!v || v->empty()) return Failure{kMissingVersion, "Missing version", "", ""};
  if (*v != "2.0") return Failure{kInvalidVersion, "Invalid version", "", ""};
  const std::string format = call.Value("format");
  if (!format.empty() && format != "xml") return Failure{kInvalidFormat, "Invalid format", "", ""};
  if (call.Value("method") != "taobao.time.get") {
    const std::string* session = call.Get("session");
    if (!session || session->empty()) return Failure{kMissingSession, "Missing session", "", ""};
    if (*session != seller->session)
      return Failure{kInvalidSession, "Invalid session", "invalid-sessionkey", "session does not belong to this app"};
  }
  return std::nullopt;
}

std::string TimeGet(const Call& call) {
  XmlWriter w(call.pretty);
  w.Open("time_get_response");
  w.Element("time", FormatBeijingTime(call.now));
  w.Close("time_get_response");
  return w.Text();
}

std::variant<std::string, Failure> UserSellerGet(Context& ctx, const Call& call) {
  const std::string* fields = call.Get("fields");
  if (!fields || fields->empty()) return Failure{kMissingArguments, "Missing required arguments:fields", "", ""};
  const auto wanted = FieldSet(*fields);
  const auto seller = ctx.market.SellerAt(call.seller);
  XmlWriter w(call.pretty);
  w.Open("user_seller_get_response");
  w.Open("user");
  if (wanted.count("avatar")) w.Element("avatar", ctx.BaseUrl() + seller->avatarPath);
  if (wanted.count("nick")) w.Element("nick", seller->nick);
  if (wanted.count("type")) w.Element("type", "C");
  if (wanted.count("user_id")) w.Element("user_id", seller->userId);
  w.Close("user");
  w.Close("user_seller_get_response");
  return w.Text();
}

// The span that taobao.trades.sold.increment.get accepts between its two times.
constexpr std::time_t kMostModifiedSpan = 24 * 3600;

struct ModifiedWindow {
  std::time_t from, to;
};

// start_modified and end_modified of the incremental listing: both required,
// in order, and at most a day apart.
std::variant<ModifiedWindow, Failure> ModifiedWindowOf(const Call& call) {
  ModifiedWindow window{};
  for (const char* name : {"start_modified", "end_modified"}) {
    const std::string* text = call.Get(name);
    if (!text || text->empty())
      return Failure{kMissingArguments, std::string("Missing required arguments:") + name, "", ""};
    auto at = ParseBeijingTime(*text);
    if (!at)
      return Failure{kInvalidArguments, std::string("Invalid arguments:") + name, "isv.invalid-parameter",
                     std::string(name) + " must be yyyy-MM-dd HH:mm:ss"};
    (name[0] == 's' ? window.from : window.to) = *at;
  }
  if (window.to < window.from)
    return Failure{kInvalidArguments, "Invalid arguments:end_modified", "isv.invalid-parameter",
                   "end_modified must not be before start_modified"};
  if (window.to - window.from > kMostModifiedSpan)
    return Failure{kInvalidArguments, "Invalid arguments:end_modified", "isv.invalid-parameter",
                   "start_modified and end_modified must be within one day"};
  return window;
}

// taobao.trades.sold.get, and with `incremental` taobao.trades.sold.increment.get
// (the same listing restricted to the trades modified in a window of a day at most).
std::variant<std::string, Failure> TradesSoldGet(Context& ctx, const Call& call, bool incremental) {
  std::optional<ModifiedWindow> window;
  if (incremental) {
    auto checked = ModifiedWindowOf(call);
    if (auto* f = std::get_if<Failure>(&checked)) return *f;
    window = std::get<ModifiedWindow>(checked);
  }
  const std::string* fields = call.Get("fields");
  if (!fields || fields->empty()) return Failure{kMissingArguments, "Missing required arguments:fields", "", ""};
  std::size_t pageNo = 1, pageSize = 40;
  if (const std::string* p = call.Get("page_no")) {
    pageNo = PositiveNumber(*p, 100000000);
    if (!pageNo) return Failure{kInvalidArguments, "Invalid arguments:page_no", "isv.invalid-parameter", ""};
  }
  if (const std::string* p = call.Get("page_size")) {
    pageSize = PositiveNumber(*p, 100);
    if (!pageSize)
      return Failure{kInvalidArguments, "Invalid arguments:page_size", "isv.invalid-parameter",
                     "page_size must be 1 to 100"};
  }
  const std::string status = call.Value("status");
  if (!status.empty() && !IsKnownTradeStatus(status))
    return Failure{kInvalidArguments, "Invalid arguments:status", "isv.invalid-parameter", ""};
  const auto rateStatus = ParseRateStatus(call.Value("rate_status"));
  if (!rateStatus) return Failure{kInvalidArguments, "Invalid arguments:rate_status", "isv.invalid-parameter", ""};
  const bool useHasNext = call.Value("use_has_next") == "true";

  const auto wanted = FieldSet(*fields);
  const bool wBuyer = wanted.count("buyer_nick"), wEnd = wanted.count("end_time"), wTid = wanted.count("tid"),
             wStatus = wanted.count("status"), wSeller = wanted.count("seller_nick"),
             wBuyerRate = wanted.count("buyer_rate"), wSellerRate = wanted.count("seller_rate");
  const Quirks quirks = ctx.GetQuirks();
  std::size_t listed = pageNo;
  if (quirks.endless) listed = 1;
  if (quirks.repeatPage > 1 && pageNo == static_cast<std::size_t>(quirks.repeatPage)) listed = pageNo - 1;
  auto list = [&](std::size_t no, bool countTotal) {
    return window ? ctx.market.ModifiedTrades(call.seller, status, *rateStatus, window->from, window->to, no, pageSize,
                                              countTotal)
                  : ctx.market.SoldTrades(call.seller, status, *rateStatus, no, pageSize, countTotal);
  };
  TradePage page = list(listed, !useHasNext);
  if (listed != pageNo && !quirks.endless) page.hasNext = list(pageNo, false).hasNext;
  const std::string sellerNick = wSeller ? ctx.market.SellerAt(call.seller)->nick : std::string();

  const char* response = incremental ? "trades_sold_increment_get_response" : "trades_sold_get_response";
  XmlWriter w(call.pretty);
  w.Open(response);
  if (useHasNext) w.Element("has_next", page.hasNext || quirks.endless ? quirks.hasNextText : "false");
  if (!page.trades.empty()) {
    w.Open("trades", "list=\"true\"");
    for (const Trade& t : page.trades) {
      w.Open("trade");
      if (wBuyer) w.Element("buyer_nick", t.buyerNick);
      if (wBuyerRate) w.Element("buyer_rate", t.buyer.result != Rate::None ? "true" : "false");
      if (wEnd && !t.endTimeText.empty()) w.Element("end_time", t.endTimeText);
      if (wSeller) w.Element("seller_nick", sellerNick);
      if (wSellerRate) w.Element("seller_rate", t.sellerRating.result != Rate::None ? "true" : "false");
      if (wStatus) w.Element("status", t.status);
      if (wTid) w.Element("tid", t.tid);
      w.Close("trade");
      if (quirks.nulAfterTrade && &t == &page.trades.front()) w.Raw(std::string_view("\0", 1));
    }
    w.Close("trades");
  }
  if (!useHasNext) w.Element("total_results", std::to_string(page.total));
  w.Close(response);
  return w.Text();
}

// taobao.trade.get: one trade of the seller, the fields asked for.
std::variant<std::string, Failure> TradeGet(Context& ctx, const Call& call) {
  const std::string* fields = call.Get("fields");
  if (!fields || fields->empty()) return Failure{kMissingArguments, "Missing required arguments:fields", "", ""};
  const std::string tid = call.Value("tid");
  if (tid.empty()) return Failure{kMissingArguments, "Missing required arguments:tid", "", ""};
  if (!IsDigits(tid)) return Failure{kInvalidArguments, "Invalid arguments:tid", "isv.invalid-parameter", ""};
  const auto t = ctx.market.FindTrade(tid);
  if (!t || t->seller != call.seller) return Failure{15, "Remote service error", "isv.trade-not-exist", "no such trade"};
  const auto wanted = FieldSet(*fields);
  XmlWriter w(call.pretty);
  w.Open("trade_get_response");
  w.Open("trade");
  if (wanted.count("buyer_nick")) w.Element("buyer_nick", t->buyerNick);
  if (wanted.count("buyer_rate")) w.Element("buyer_rate", t->buyer.result != Rate::None ? "true" : "false");
  if (wanted.count("end_time") && !t->endTimeText.empty()) w.Element("end_time", t->endTimeText);
  if (wanted.count("seller_rate")) w.Element("seller_rate", t->sellerRating.result != Rate::None ? "true" : "false");
  if (wanted.count("status")) w.Element("status", t->status);
  if (wanted.count("tid")) w.Element("tid", t->tid);
  w.Close("trade");
  w.Close("trade_get_response");
  return w.Text();
}

// The ratings taobao.traderates.get lists at most for one window of times:
// a window that holds more is cut after this many, newest first, and must be
// asked in parts.
constexpr std::size_t kMostRatesPerWindow = 1500;
constexpr std::size_t kMostRatesPageSize = 150;
constexpr std::size_t kMostRatesPageNo = 200;
// How far back the listing reaches.
constexpr std::time_t kRatesHistorySeconds = 180 * 24 * 3600;

// taobao.traderates.get: one order's ratings (tid), or the ratings of a window
// of times (start_date, end_date, either may be left out), page by page,
// newest first, with has_next (use_has_next) or total_results.
std::variant<std::string, Failure> TradeRatesGet(Context& ctx, const Call& call) {
  const std::string* fields = call.Get("fields");
  if (!fields || fields->empty()) return Failure{kMissingArguments, "Missing required arguments:fields", "", ""};
  const std::string rateType = call.Value("rate_type");
  const std::string role = call.Value("role");
  if (rateType.empty()) return Failure{kMissingArguments, "Missing required arguments:rate_type", "", ""};
  if (role.empty()) return Failure{kMissingArguments, "Missing required arguments:role", "", ""};
  if (rateType != "get" && rateType != "give")
    return Failure{kInvalidArguments, "Invalid arguments:rate_type", "isv.invalid-parameter", ""};
  if (role != "buyer" && role != "seller")
    return Failure{kInvalidArguments, "Invalid arguments:role", "isv.invalid-parameter", ""};
  const std::string tid = call.Value("tid");
  if (!tid.empty() && !IsDigits(tid))
    return Failure{kInvalidArguments, "Invalid arguments:tid", "isv.invalid-parameter", ""};
  std::size_t pageNo = 1, pageSize = 40;
  if (const std::string* p = call.Get("page_no")) {
    pageNo = PositiveNumber(*p, kMostRatesPageNo);
    if (!pageNo)
      return Failure{kInvalidArguments, "Invalid arguments:page_no", "isv.invalid-parameter", "page_no must be 1 to 200"};
  }
  if (const std::string* p = call.Get("page_size")) {
    pageSize = PositiveNumber(*p, kMostRatesPageSize);
    if (!pageSize)
      return Failure{kInvalidArguments, "Invalid arguments:page_size", "isv.invalid-parameter",
                     "page_size must be 1 to 150"};
  }
  std::time_t from = call.now - kRatesHistorySeconds, to = call.now;
  for (const char* name : {"start_date", "end_date"}) {
    const std::string* text = call.Get(name);
    if (!text || text->empty()) continue;
    const auto at = ParseBeijingTime(*text);
    if (!at)
      return Failure{kInvalidArguments, std::string("Invalid arguments:") + name, "isv.invalid-parameter",
                     std::string(name) + " must be yyyy-MM-dd HH:mm:ss"};
    (name[0] == 's' ? from : to) = *at;
  }
  from = std::max(from, call.now - kRatesHistorySeconds);
  const bool useHasNext = call.Value("use_has_next") == "true";

  // "get" with role "buyer": what buyers gave this seller; "give" with role
  // "seller": what this seller gave. The other pairs are a seller's purchases,
  // of which the sandbox has none.
  const bool received = rateType == "get" && role == "buyer";
  const bool given = rateType == "give" && role == "seller";
  std::vector<Trade> trades;
  if (received || given) {
    if (!tid.empty()) {
      auto t = ctx.market.FindTrade(tid);
      const Rating* r = t ? (received ? &t->buyer : &t->sellerRating) : nullptr;
      if (t && t->seller == call.seller && r->result != Rate::None) trades.push_back(*t);
    } else if (from <= to) {
      trades = ctx.market.RatingsBetween(call.seller, received, from, to);
    }
  }
  const std::size_t total = trades.size();
  const std::size_t served = std::min(total, kMostRatesPerWindow);
  const std::size_t first = std::min((pageNo - 1) * pageSize, served);
  const std::size_t last = std::min(first + pageSize, served);
  const auto wanted = FieldSet(*fields);
  const auto seller = ctx.market.SellerAt(call.seller);
  XmlWriter w(call.pretty);
  w.Open("traderates_get_response");
  if (useHasNext) w.Element("has_next", last < served ? "true" : "false");
  if (first < last) {
    w.Open("trade_rates", "list=\"true\"");
    for (std::size_t i = first; i < last; ++i) {
      const Trade& t = trades[i];
      const Rating& r = received ? t.buyer : t.sellerRating;
      w.Open("trade_rate");
      if (wanted.count("content")) w.Element("content", r.content);
      if (wanted.count("created")) w.Element("created", FormatBeijingTime(r.time));
      if (wanted.count("nick")) w.Element("nick", received ? t.buyerNick : seller->nick);
      if (wanted.count("rated_nick")) w.Element("rated_nick", received ? seller->nick : t.buyerNick);
      if (wanted.count("result")) w.Element("result", RateName(r.result));
      if (wanted.count("role")) w.Element("role", received ? "buyer" : "seller");
      if (wanted.count("tid")) w.Element("tid", t.tid);
      w.Close("trade_rate");
    }
    w.Close("trade_rates");
  }
  if (!useHasNext) w.Element("total_results", std::to_string(total));
  w.Close("traderates_get_response");
  return w.Text();
}

}  // namespace

void RegisterGateway(httplib::Server& server, Context& ctx) {
  server.Get("/router/rest", Served(ctx, [&ctx](const httplib::Request& req, httplib::Response& res) {
               Call call;
               call.now = ctx.clock.Now();
               call.pretty = ctx.GetQuirks().pretty;
               std::variant<std::string, Failure> answer;
               if (auto failure = Check(ctx, req, call)) {
                 answer = *failure;
               } else {
                 const std::string method = call.Value("method");
                 if (method == "taobao.time.get") {
                   answer = TimeGet(call);
                 } else if (method == "taobao.user.seller.get") {
                   answer = UserSellerGet(ctx, call);
                 } else if (method == "taobao.trades.sold.get") {
                   answer = TradesSoldGet(ctx, call, false);
                 } else if (method == "taobao.trades.sold.increment.get") {
                   answer = TradesSoldGet(ctx, call, true);
                 } else if (method == "taobao.trade.get") {
                   answer = TradeGet(ctx, call);
                 } else if (method == "taobao.traderates.get") {
                   answer = TradeRatesGet(ctx, call);
                 } else {
                   answer = Failure{kInvalidMethod, "Invalid method", "", ""};
                 }
               }
               if (auto* f = std::get_if<Failure>(&answer)) {
                 res.set_content(ErrorXml(f->code, f->msg, f->subCode, f->subMsg, call.pretty), kXmlContentType);
               } else {
                 res.set_content(std::get<std::string>(answer), kXmlContentType);
               }
             }));
}

}  // namespace qm::sandbox
