#include "web/web_desk.h"

#include <nlohmann/json.hpp>

#include <chrono>

#include "orders/order_book.h"
#include "rating/alert_list.h"
#include "rating/buyer_verdict.h"
#include "rating/comments.h"
#include "rating/keep_list.h"
#include "rating/manual_rating.h"
#include "rating/rating_log.h"
#include "rating/rating_stats.h"
#include "rating/refresh_checks.h"
#include "rating/run_settings.h"
#include "rating/seller_run.h"
#include "settings/app_session.h"
#include "util/event_loop.h"
#include "util/memory_ports.h"
#include "util/stop.h"
#include "util/text_codec.h"

namespace qm {
namespace {

using json = nlohmann::json;

constexpr std::size_t kNotesKept = 30;
// A question nobody answers is cancelled after this long, so that the run's
// actions do not wait on a page that was closed.
constexpr auto kQuestionLimit = std::chrono::minutes(10);

// Text from the platform or a buyer may hold bytes that are not UTF-8; the
// page gets them replaced rather than no page at all.
std::string Safe(const std::string& text) { return IsValidUtf8(text) ? text : SanitizeUtf8(text); }

std::string Colour(std::uint32_t rgb) {
  char text[8];
  std::snprintf(text, sizeof text, "#%06x", rgb & 0xFFFFFFu);
  return text;
}

const char* ResultWords(const std::string& result) {
  if (result == "good") return "好评";
  if (result == "neutral") return "中评";
  if (result == "bad") return "差评";
  return "不好的评价";
}

json SettingsJson(const RunSettings& s) {
  json comments = json::array();
  for (const std::string& c : s.comments) comments.push_back(Safe(c));
  return {{"comments", comments},
          {"commentUse", static_cast<int>(s.commentUse)},
          {"ratingHours", s.ratingHours},
          {"reloadMinutes", s.reloadMinutes},
          {"badRatingAlerts", s.badRatingAlerts},
          {"answerBadFirst", s.answerBadFirst}};
}

// The settings the page sent; nullopt with why when they are not usable.
std::optional<RunSettings> SettingsFrom(const json& in, std::string* problem) {
  RunSettings s;
  try {
    for (const json& c : in.at("comments")) {
      std::string comment = TrimmedComment(c.get<std::string>());
      if (!comment.empty() || s.comments.empty()) s.comments.push_back(std::move(comment));
    }
    if (s.comments.empty()) s.comments.push_back({});
    const int use = in.at("commentUse").get<int>();
    if (use < 0 || use > 2) throw std::out_of_range("commentUse");
    s.commentUse = static_cast<CommentUse>(use);
    const double hours = in.at("ratingHours").get<double>();
    if (!(hours >= 0 && hours <= 15 * 24)) {
      *problem = "评价时间必须在 0 到 360 小时之间。";
      return std::nullopt;
    }
    s.ratingHours = static_cast<float>(hours);
    s.reloadMinutes = in.at("reloadMinutes").get<int>();
    if (s.reloadMinutes < 0 || s.reloadMinutes > 24 * 60) {
      *problem = "重新读取间隔必须在 0 到 1440 分钟之间。";
      return std::nullopt;
    }
    s.badRatingAlerts = in.at("badRatingAlerts").get<bool>();
    s.answerBadFirst = in.at("answerBadFirst").get<bool>();
  } catch (const std::exception&) {
    *problem = "设置的格式不对，没有保存。";
    return std::nullopt;
  }
  return s;
}

}  // namespace

// The boxes of the seller's actions: questions go to the page and the action
// goes on with the answer; the other boxes become messages on it.
class WebDesk::PagePrompts : public Prompts {
 public:
  explicit PagePrompts(WebDesk& desk) : desk_(desk) {}
  void Information(const std::string& title, const std::string& text) override {
    desk_.AddNote({0, "info", title, text});
  }
  void Warn(const std::string& title, const std::string& text) override { desk_.AddNote({0, "warn", title, text}); }
  // Every action asks through Confirm; a question that would have to wait in
  // place is refused.
  bool Question(const std::string&, const std::string&) override { return false; }
  void Confirm(const std::string& title, const std::string& text, bool, std::function<void(bool)> then) override {
    desk_.Ask(title, text, std::move(then));
  }
  // The page offers no action that asks for a line of text.
  std::optional<std::string> Input(const std::string&, const std::string&, const std::string&) override {
    return std::nullopt;
  }

 private:
  WebDesk& desk_;
};

WebDesk::WebDesk(SellerRun& run, MemoryOrderList& unratedView, MemoryOrderList& buyerRatedView, EventLoop& loop,
                 AlertOutbox* outbox)
    : run_(run), unratedView_(unratedView), buyerRatedView_(buyerRatedView), loop_(loop),
      prompts_(std::make_unique<PagePrompts>(*this)), outbox_(outbox) {}

WebDesk::~WebDesk() {
  if (expiry_ != nullptr) expiry_->SetInterval(0);  // the loop keeps its timers
  if (test_.joinable()) test_.join();
}

void WebDesk::Attach(MainView& view) {
  printStatus_ = view.setStatus;
  view.prompts = prompts_.get();
  view.setStatus = [this](const std::string& text) {
    if (printStatus_) printStatus_(text);
    // Only the seller's actions set it in the runner: what they did stays in view.
    status_ = text;
    AddNote({0, "status", "", text});
  };
  view.showNotice = [this](const Notice& notice) {
    AddNote({0, "notice", notice.line, notice.text, notice.textColour, notice.background});
  };
  // The rating page is the desktop's: the page says so instead.
  view.openRatingPage = [this] {
    AddNote({0, "info", kAnswerCaption, "请在淘宝的评价管理页面上查看或修改这笔评价（评价页面只在桌面程序中打开）。"});
    return false;
  };
}

void WebDesk::Close() {
  closed_ = true;
  // The run ends: what the questions would have done is not done.
  questions_.clear();
  if (expiry_ != nullptr) expiry_->SetInterval(0);
}

void WebDesk::AddNote(Note note) {
  note.id = ++lastId_;
  notes_.push_back(std::move(note));
  while (notes_.size() > kNotesKept) notes_.pop_front();
}

void WebDesk::Ask(const std::string& title, const std::string& text, std::function<void(bool)> then) {
  if (closed_) return;
  questions_.push_back({++lastId_, title, text, std::move(then), std::chrono::steady_clock::now() + kQuestionLimit});
  if (expiry_ == nullptr) expiry_ = loop_.NewTimer([this] { ExpireQuestions(); });
  expiry_->SetInterval(1000);
  // The action that asks has started: the page hears so and shows the question.
  ReplyNow(Started(true, ""));
}

void WebDesk::ExpireQuestions() {
  const auto now = std::chrono::steady_clock::now();
  std::vector<Question> expired;
  std::erase_if(questions_, [&](Question& q) {
    if (q.until > now) return false;
    expired.push_back(std::move(q));
    return true;
  });
  if (questions_.empty()) expiry_->SetInterval(0);
  for (Question& q : expired) {
    AddNote({0, "info", q.title, "这个问题没有回答，已当作“取消”。"});
    q.then(false);
  }
}

void WebDesk::ReplyNow(const std::string& reply) {
  if (!pendingReply_) return;
  Reply r = std::move(pendingReply_);
  pendingReply_ = nullptr;
  r(reply);
}

std::string WebDesk::Started(bool ok, const std::string& message) {
  return json{{"ok", ok}, {"message", message}}.dump();
}

std::string WebDesk::State() {
  json state;
  state["seller"] = Safe(run_.RunAccount().sellerNick);
  state["status"] = Safe(status_);
  KeepList& keep = run_.Keep();
  keep.Refresh();
  json unrated = json::array();
  const OrderRows& u = run_.Book().Unrated();
  for (int i = 0; i < u.RowCount(); ++i) {
    const OrderRow& row = u.Row(i);
    const bool kept = keep.Keeps(row.order);
    unrated.push_back({Safe(row.order.tid), Safe(row.order.buyerNick), Safe(row.order.endTime),
                       Safe(kept ? std::string(kKeptTimeLeft) : row.timeLeft), kept});
  }
  json rated = json::array();
  const OrderRows& b = run_.Book().BuyerRated();
  for (int i = 0; i < b.RowCount(); ++i) {
    const Order& order = b.Row(i).order;
    json row = {Safe(order.tid), Safe(order.buyerNick)};
    if (const auto style = AlertStyleOf(run_.Log(), order.tid)) {
      row.push_back(Colour(style->textColour));
      row.push_back(Colour(style->background));
    }
    rated.push_back(std::move(row));
  }
  state["unrated"] = std::move(unrated);
  state["buyerRated"] = std::move(rated);
  json alerts = json::array();
  for (const BuyerAlert& a : run_.Alerts().Unseen()) {
    json alert = {{"tid", Safe(a.tid)}, {"buyer", Safe(a.buyer)}, {"result", ResultWords(a.result)},
                  {"comment", Safe(a.comment)}, {"time", Safe(a.time)}};
    if (const auto style = NoticeStyleFor(a.result)) {
      alert["fg"] = Colour(style->textColour);
      alert["bg"] = Colour(style->background);
    }
    alerts.push_back(std::move(alert));
  }
  state["alerts"] = std::move(alerts);
  if (!questions_.empty()) {
    const Question& q = questions_.back();
    state["question"] = {{"id", q.id}, {"title", Safe(q.title)}, {"text", Safe(q.text)}};
  } else {
    state["question"] = nullptr;
  }
  json notes = json::array();
  for (const Note& n : notes_) {
    notes.push_back({{"id", n.id}, {"kind", n.kind}, {"title", Safe(n.title)}, {"text", Safe(n.text)},
                     {"fg", Colour(n.textColour)}, {"bg", Colour(n.background)}});
  }
  state["notes"] = std::move(notes);
  state["settings"] = SettingsJson(run_.Settings());
  json keptOrders = json::array(), keptBuyers = json::array();
  for (const std::string& o : keep.KeptOrders()) keptOrders.push_back(Safe(o));
  for (const std::string& o : keep.KeptBuyers()) keptBuyers.push_back(Safe(o));
  state["kept"] = {{"orders", keptOrders}, {"buyers", keptBuyers}, {"problem", Safe(keep.Problem())}};
  return state.dump(-1, ' ', false, json::error_handler_t::replace);
}

void WebDesk::Act(const std::string& action, const std::string& argsText, const Reply& reply) {
  if (closed_) return reply(Started(false, "程序正在退出。"));
  const json args = json::parse(argsText, nullptr, false);
  if (!args.is_object()) return reply(Started(false, "请求的格式不对。"));
  auto text = [&args](const char* key) {
    const auto it = args.find(key);
    return it != args.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  if (action == "question") {
    const auto id = args.find("id");
    const auto ok = args.find("ok");
    for (auto q = questions_.begin(); q != questions_.end(); ++q) {
      if (id != args.end() && ok != args.end() && ok->is_boolean() && *id == q->id) {
        const std::function<void(bool)> then = std::move(q->then);
        questions_.erase(q);
        if (questions_.empty() && expiry_ != nullptr) expiry_->SetInterval(0);
        reply(Started(true, ""));
        // The action goes on from its question; what it says next reaches the
        // page as notes and the status line.
        return then(ok->get<bool>());
      }
    }
    return reply(Started(false, "这个问题已经不在了。"));
  }
  // One question at a time, as the desktop's modal boxes allow.
  if (!questions_.empty()) return reply(Started(false, "请先回答页面上的问题。"));
  if (action == "seen") {
    std::vector<std::string> tids;
    if (const auto it = args.find("tids"); it != args.end() && it->is_array()) {
      for (const json& t : *it)
        if (t.is_string()) tids.push_back(t.get<std::string>());
    }
    const bool ok = run_.Alerts().MarkSeen(tids);
    return reply(Started(ok, ok ? "" : "评价记录无法写入，提醒在这次运行中不再显示。"));
  }
  if (action == "settings") {
    std::string problem;
    const std::optional<RunSettings> settings = SettingsFrom(args, &problem);
    const bool ok = settings && SaveRunSettings(run_.RunAccount().dataDir, run_.RunAccount().sellerNick, &run_, *settings, &problem);
    return reply(Started(ok, ok ? "设置已保存。" : problem));
  }
  if (action == "alert-settings") return SaveAlerts(argsText, reply);
  if (action == "alert-test") return TestAlerts(argsText, reply);
  if (action == "release-kept") {
    const std::string name = text("name");
    KeepList& keep = run_.Keep();
    keep.Refresh();
    const bool ok = args.value("buyer", false) ? keep.ReleaseBuyer(name) : keep.ReleaseOrder(name);
    run_.Book().Unrated().Repaint();
    return reply(Started(ok, ok ? "“" + name + "”以后可以自动评价。"
                                : "“" + name + "”无法解除：“" + KeepListFileName(run_.RunAccount().sellerNick) + "”无法保存。"));
  }
  const bool onUnrated = action != "answer";
  if (onUnrated && action != "rate" && action != "keep" && action != "release" && action != "keep-buyer" &&
      action != "release-buyer") {
    return reply(Started(false, "没有这个操作。"));
  }
  const std::string tid = text("tid");
  OrderRows& rows = onUnrated ? run_.Book().Unrated() : run_.Book().BuyerRated();
  MemoryOrderList& view = onUnrated ? unratedView_ : buyerRatedView_;
  const int row = rows.Find(tid);
  if (row < 0) return reply(Started(false, "订单‘" + tid + "’已不在列表中。"));
  // The action works on the list's current order, as a click on the row makes it.
  view.SetCurrentRow(row);
  pendingReply_ = reply;
  const std::uint64_t before = lastId_;
  if (action == "rate") {
    rate_early_from_menu(run_);
  } else if (action == "answer") {
    answer_on_second_list_double_click(run_);
  } else {
    KeepCurrentOrder(run_, action.rfind("keep", 0) == 0, action.find("buyer") != std::string::npos);
  }
  // A box the action showed instead of acting says why it did not.
  for (const Note& n : notes_) {
    if (n.id > before && (n.kind == "info" || n.kind == "warn")) ReplyNow(Started(false, n.text));
  }
  ReplyNow(Started(true, ""));
}

std::string WebDesk::Log(const std::string& filter, int limit) {
  json entries = json::array();
  for (const RatingLogEntry& e : run_.Log().Entries(filter, limit)) {
    entries.push_back({Safe(e.time), Safe(e.tid), Safe(e.buyer), RatingResultWords(e.result), Safe(e.comment),
                       RatingStartWords(e.started), Safe(e.OutcomeWords())});
  }
  return entries.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string WebDesk::LogCsv(const std::string& filter) { return RatingLogCsv(run_.Log().Entries(filter)); }

std::string WebDesk::Stats(int days) {
  json out = json::array();
  for (const DayFigures& f : DailyFigures(run_.Log(), days)) {
    out.push_back({{"day", f.day}, {"automatic", f.automatic}, {"early", f.early}, {"answered", f.answered},
                   {"good", f.good}, {"neutral", f.neutral}, {"bad", f.bad}, {"requests", f.requests}});
  }
  return out.dump();
}

std::string WebDesk::StatsCsv(int days) { return DailyFiguresCsv(DailyFigures(run_.Log(), days)); }

}  // namespace qm
