// The admin interface under "/__sandbox/" (JSON in, JSON out), used by the
// tests, the benchmarks and the demo. Its routes are listed in
// tests/support/sandbox_process.h.
#include <nlohmann/json.hpp>

#include <cmath>

#include "config_file.h"
#include "context.h"
#include "text.h"

namespace qm::sandbox {

namespace {

using nlohmann::json;

void Reply(httplib::Response& res, const json& value, int status = 200) {
  res.status = status;
  res.set_content(value.dump(-1, ' ', false, json::error_handler_t::replace), "application/json; charset=utf-8");
}

void Fail(httplib::Response& res, const std::string& message, int status = 400) {
  Reply(res, json{{"error", message}}, status);
}

// Parses the body as a JSON object; answers 400 and nothing on failure.
std::optional<json> Body(const httplib::Request& req, httplib::Response& res) {
  json body = json::parse(req.body.empty() ? std::string("{}") : req.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    Fail(res, "the body must be a JSON object");
    return std::nullopt;
  }
  return body;
}

json SellerJson(const Context& ctx, const Seller& s) {
  return json{{"nick", s.nick},         {"user_id", s.userId},  {"avatar", ctx.BaseUrl() + s.avatarPath},
              {"app_key", s.appKey},    {"app_secret", s.appSecret}, {"password", s.password},
              {"session", s.session}};
}

json TradeJson(const Trade& t) {
  return json{{"tid", t.tid},
              {"seller", t.seller},
              {"buyer_nick", t.buyerNick},
              {"status", t.status},
              {"end_time", t.endTimeText},
              {"modified", FormatBeijingTime(t.modified)},
              {"buyer_rate", RateName(t.buyer.result)},
              {"buyer_comment", t.buyer.content},
              {"seller_rate", RateName(t.sellerRating.result)},
              {"seller_comment", t.sellerRating.content}};
}

std::string Text(const json& obj, const char* key) {
  auto it = obj.find(key);
  if (it == obj.end() || it->is_null()) return {};
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number_integer()) return std::to_string(it->get<long long>());
  return it->dump();
}

int SellerIndex(const Context& ctx, const json& obj) {
  auto it = obj.find("seller");
  if (it == obj.end()) return 0;
  if (it->is_number_integer()) return it->get<int>();
  if (it->is_string()) {
    if (*it == "other") return 1;
    if (*it == "demo") return 0;
    return ctx.market.SellerByNick(it->get<std::string>());
  }
  return -1;
}

void AddTrades(Context& ctx, const httplib::Request& req, httplib::Response& res) {
  auto body = Body(req, res);
  if (!body) return;
  auto list = body->find("trades");
  if (list == body->end() || !list->is_array()) return Fail(res, "\"trades\" must be an array");
  const std::time_t now = ctx.clock.Now();
  std::vector<NewTrade> trades;
  for (const json& item : *list) {
    if (!item.is_object()) return Fail(res, "each trade must be an object");
    NewTrade t;
    t.tid = Text(item, "tid");
    t.buyerNick = Text(item, "buyer_nick");
    t.status = Text(item, "status");
    t.seller = SellerIndex(ctx, item);
    if (item.contains("end_time")) {
      auto end = ParseBeijingTime(Text(item, "end_time"));
      if (!end) return Fail(res, "end_time must be yyyy-MM-dd HH:mm:ss");
      t.endTime = *end;
    } else if (item.contains("ended_hours_ago")) {
      if (!item["ended_hours_ago"].is_number()) return Fail(res, "ended_hours_ago must be a number");
      t.endTime = now - static_cast<std::time_t>(std::llround(item["ended_hours_ago"].get<double>() * 3600.0));
    }
    auto buyerRate = ParseRate(Text(item, "buyer_rate"), true);
    auto sellerRate = ParseRate(Text(item, "seller_rate"), true);
    if (!buyerRate || !sellerRate) return Fail(res, "rates are none, good, neutral or bad");
    t.buyerRate = *buyerRate;
    t.sellerRate = *sellerRate;
    t.buyerComment = Text(item, "buyer_comment");
    t.sellerComment = Text(item, "seller_comment");
    trades.push_back(std::move(t));
  }
  std::string error;
  auto tids = ctx.market.AddTrades(trades, now, &error);
  if (!error.empty()) return Fail(res, error);
  Reply(res, json{{"tids", tids}});
}

void SetFaults(Context& ctx, const httplib::Request& req, httplib::Response& res) {
  auto body = Body(req, res);
  if (!body) return;
  if (body->empty()) {
    ctx.faults.Clear();
    return Reply(res, json{{"ok", true}});
  }
  FaultRule rule;
  auto number = [&](const char* key, double def) {
    auto it = body->find(key);
    return it != body->end() && it->is_number() ? it->get<double>() : def;
  };
  rule.latencyMs = static_cast<int>(number("latency_ms", 0));
  rule.stallMs = static_cast<int>(number("stall_ms", 0));
  rule.stallAfterMs = static_cast<int>(number("stall_after_ms", 0));
  rule.errorRate = number("error_rate", 0);
  rule.resetRate = number("reset_rate", 0);
  rule.truncateRate = number("truncate_rate", 0);
  rule.refuseRate = number("refuse_rate", 0);
  rule.stallRate = number("stall_rate", 0);
  rule.trickleMs = static_cast<int>(number("trickle_ms", 0));
  rule.firstN = static_cast<long>(number("first_n", 0));
  rule.apiMethod = Text(*body, "api_method");
  rule.pageNo = static_cast<long>(number("page_no", 0));
  rule.rateStatus = Text(*body, "rate_status");
  rule.replyBody = Text(*body, "reply_body");
  for (double r : {rule.errorRate, rule.resetRate, rule.truncateRate, rule.refuseRate, rule.stallRate}) {
    if (r < 0 || r > 1) return Fail(res, "rates are shares from 0 to 1");
  }
  if (rule.latencyMs < 0 || rule.stallMs < 0 || rule.stallAfterMs < 0 || rule.trickleMs < 0 || rule.firstN < 0)
    return Fail(res, "negative values are refused");
  std::string path = Text(*body, "path");
  ctx.faults.Set(path.empty() ? "*" : path, rule);
  Reply(res, json{{"ok", true}});
}

}  // namespace

void RegisterAdmin(httplib::Server& server, Context& ctx) {
  server.Get("/__sandbox/seller", [&ctx](const httplib::Request&, httplib::Response& res) {
    Reply(res, SellerJson(ctx, *ctx.market.SellerAt(0)));
  });
  server.Get("/__sandbox/sellers", [&ctx](const httplib::Request&, httplib::Response& res) {
    json all = json::array();
    for (int i = 0; i < ctx.market.SellerCount(); ++i) all.push_back(SellerJson(ctx, *ctx.market.SellerAt(i)));
    Reply(res, all);
  });
  server.Get("/__sandbox/trades", [&ctx](const httplib::Request& req, httplib::Response& res) {
    auto rs = ParseRateStatus(req.get_param_value("rate_status"));
    if (!rs) return Fail(res, "unknown rate_status");
    const int seller = req.has_param("seller") ? std::atoi(req.get_param_value("seller").c_str()) : 0;
    json all = json::array();
    for (const Trade& t : ctx.market.AllTrades(seller, *rs)) all.push_back(TradeJson(t));
    Reply(res, all);
  });
  server.Post("/__sandbox/trades", [&ctx](const httplib::Request& req, httplib::Response& res) {
    AddTrades(ctx, req, res);
  });
  server.Post("/__sandbox/reset", [&ctx](const httplib::Request& req, httplib::Response& res) {
    auto body = Body(req, res);
    if (!body) return;
    const auto seed = body->value("seed", 1u);
    const int trades = body->value("trades", 0);
    if (trades < 0 || trades > 5'000'000) return Fail(res, "trades must be 0 to 5000000");
    ctx.market.Reset(seed, trades, ctx.clock.Now());
    Reply(res, json{{"ok", true}, {"trades", ctx.market.TradeCount()}});
  });
  server.Post("/__sandbox/buyer-rate", [&ctx](const httplib::Request& req, httplib::Response& res) {
    auto body = Body(req, res);
    if (!body) return;
    auto result = ParseRate(Text(*body, "result"));
    if (!result) return Fail(res, "result is good, neutral or bad");
    const RateOutcome outcome =
        ctx.market.RateAsBuyer(Text(*body, "tid"), *result, Text(*body, "content"), ctx.clock.Now());
    if (outcome == RateOutcome::NoSuchTrade) return Fail(res, OutcomeText(outcome), 404);
    if (outcome != RateOutcome::Ok) return Fail(res, OutcomeText(outcome), 409);
    Reply(res, json{{"ok", true}});
  });
  // A change to a trade that is no rating (a memo, a refund step, logistics):
  // only its modification time moves.
  server.Post("/__sandbox/touch", [&ctx](const httplib::Request& req, httplib::Response& res) {
    auto body = Body(req, res);
    if (!body) return;
    if (!ctx.market.Touch(Text(*body, "tid"), ctx.clock.Now())) return Fail(res, "trade does not exist", 404);
    Reply(res, json{{"ok", true}});
  });
  server.Get("/__sandbox/ratings", [&ctx](const httplib::Request&, httplib::Response& res) {
    json all = json::array();
    for (const Trade& t : ctx.market.RatingsGiven(0)) {
      all.push_back(json{{"tid", t.tid},
                         {"buyer_nick", t.buyerNick},
                         {"result", RateName(t.sellerRating.result)},
                         {"content", t.sellerRating.content},
                         {"time", FormatBeijingTime(t.sellerRating.time)}});
    }
    Reply(res, all);
  });
  server.Get("/__sandbox/log", [&ctx](const httplib::Request&, httplib::Response& res) {
    json all = json::array();
    for (const LogEntry& e : ctx.log.Snapshot()) {
      all.push_back(json{{"method", e.method},
                         {"path", e.path},
                         {"query", e.query},
                         {"body", e.body},
                         {"api_method", e.apiMethod},
                         {"status", e.status},
                         {"time", FormatBeijingTime(e.time)}});
    }
    Reply(res, all);
  });
  server.Get("/__sandbox/stats", [&ctx](const httplib::Request&, httplib::Response& res) {
    Reply(res, json{{"rating_forms", ctx.ratingForms.load()}, {"repeated_ratings", ctx.repeatedRatings.load()}});
  });
  server.Post("/__sandbox/log/clear", [&ctx](const httplib::Request&, httplib::Response& res) {
    ctx.log.Clear();
    Reply(res, json{{"ok", true}});
  });
  server.Post("/__sandbox/faults", [&ctx](const httplib::Request& req, httplib::Response& res) {
    SetFaults(ctx, req, res);
  });
  server.Post("/__sandbox/quirks", [&ctx](const httplib::Request& req, httplib::Response& res) {
    auto body = Body(req, res);
    if (!body) return;
    Quirks q = ctx.GetQuirks();
    if (body->contains("has_next")) q.hasNextText = Text(*body, "has_next");
    auto flag = [&](const char* key, bool& out) {
      if (body->contains(key)) out = (*body)[key].is_boolean() && (*body)[key].get<bool>();
    };
    flag("pretty", q.pretty);
    flag("endless", q.endless);
    flag("nul_after_trade", q.nulAfterTrade);
    if (body->contains("repeat_page"))
      q.repeatPage = (*body)["repeat_page"].is_number_integer() ? (*body)["repeat_page"].get<long>() : 0;
    ctx.SetQuirks(q);
    Reply(res, json{{"ok", true},
                    {"has_next", q.hasNextText},
                    {"pretty", q.pretty},
                    {"endless", q.endless},
                    {"repeat_page", q.repeatPage},
                    {"nul_after_trade", q.nulAfterTrade}});
  });
  server.Post("/__sandbox/clock", [&ctx](const httplib::Request& req, httplib::Response& res) {
    auto body = Body(req, res);
    if (!body) return;
    auto it = body->find("offset_seconds");
    if (it == body->end() || !it->is_number_integer()) return Fail(res, "offset_seconds must be an integer");
    ctx.clock.SetOffset(it->get<long long>());
    Reply(res, json{{"ok", true}, {"now", FormatBeijingTime(ctx.clock.Now())}});
  });
  server.Post("/__sandbox/write-config", [&ctx](const httplib::Request& req, httplib::Response& res) {
    auto body = Body(req, res);
    if (!body) return;
    std::string error;
    if (!WriteSellerConfig(Text(*body, "path"), *ctx.market.SellerAt(0), &error)) return Fail(res, error, 500);
    Reply(res, json{{"ok", true}});
  });
}

}  // namespace qm::sandbox
