#include "alerts/alert_outbox.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <future>

#include "platform/platform_time.h"
#include "rating/sql_statement.h"
#include "util/event_pump.h"
#include "util/libraries.h"

namespace qm {
namespace {

constexpr int kPending = 0;
constexpr int kSent = 1;
constexpr int kGivenUp = 2;

constexpr const char* kSchemaSql =
    "CREATE TABLE IF NOT EXISTS alert_sends(item TEXT, destination TEXT, state INTEGER NOT NULL DEFAULT 0,"
    " tries INTEGER NOT NULL DEFAULT 0, kind TEXT, shop TEXT, tid TEXT, buyer TEXT, result TEXT, comment TEXT,"
    " time TEXT, day TEXT, figures TEXT, PRIMARY KEY(item, destination));";

constexpr std::array<Destination, 4> kAllDestinations = {Destination::DingTalk, Destination::WeCom,
                                                          Destination::Webhook, Destination::Mail};

using Query = SqlStatement;

const char* KindName(AlertKind kind) {
  return kind == AlertKind::Summary ? "summary" : kind == AlertKind::Test ? "test" : "rating";
}

std::string Figures(const AlertMessage& m) {
  return std::to_string(m.givenAutomatic) + "," + std::to_string(m.givenEarly) + "," + std::to_string(m.givenAnswered) +
         "," + std::to_string(m.receivedNeutral) + "," + std::to_string(m.receivedBad);
}

void ReadFigures(const std::string& text, AlertMessage& m) {
  int* fields[] = {&m.givenAutomatic, &m.givenEarly, &m.givenAnswered, &m.receivedNeutral, &m.receivedBad};
  std::size_t at = 0;
  for (int* field : fields) {
    if (at >= text.size()) break;
    const std::size_t comma = text.find(',', at);
    *field = std::atoi(text.substr(at, comma - at).c_str());
    at = comma == std::string::npos ? text.size() : comma + 1;
  }
}

std::string TimeText(double now) { return FormatPlatformTime(static_cast<std::int64_t>(now)); }

}  // namespace

std::string AlertEventText(const AlertEvent& e) {
  const std::string what = e.about == AlertKind::Summary ? "每日汇总（" + e.item + "）"
                           : e.about == AlertKind::Test  ? std::string("测试提醒")
                                                         : "差评提醒（订单 " + e.item + "）";
  const std::string where = DestinationName(e.destination);
  switch (e.kind) {
    case AlertEvent::Kind::Sent: return what + "已发到" + where;
    case AlertEvent::Kind::Retrying:
      return what + "未能发到" + where + "：" + e.why + "；第 " + std::to_string(e.tries) + " 次，稍后再试";
    case AlertEvent::Kind::GaveUp:
      return what + "未能发到" + where + "：" + e.why + "；试了 " + std::to_string(e.tries) + " 次，已放弃";
  }
  return what;
}

AlertOutbox::AlertOutbox(EventPump& pump, const PlatformClock& clock, std::string shop, AlertSettings settings,
                         std::function<void(const AlertEvent&)> report, Options options)
    : pump_(pump),
      clock_(clock),
      shop_(std::move(shop)),
      settings_(std::move(settings)),
      report_(std::move(report)),
      options_(std::move(options)),
      shared_(std::make_shared<Shared>()) {
  shared_->settings = settings_;
}

AlertOutbox::~AlertOutbox() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->alive = false;
  }
  shared_->cancel = true;
  shared_->wake.notify_all();
  for (std::thread& lane : lanes_)
    if (lane.joinable()) lane.join();
  if (db_ != nullptr) sqlite3_close_v2(db_);
}

bool AlertOutbox::Open(const std::string& logPath, std::string* error) {
  PrepareLibraries();
  if (sqlite3_open_v2(logPath.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK ||
      (sqlite3_busy_timeout(db_, 5000), sqlite3_exec(db_, kSchemaSql, nullptr, nullptr, nullptr)) != SQLITE_OK) {
    if (error) *error = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return false;
  }
  Query pending(db_,
                "SELECT item,destination,tries,kind,shop,tid,buyer,result,comment,time,day,figures FROM alert_sends "
                "WHERE state=0 ORDER BY rowid");
  while (pending.Step() == SQLITE_ROW) {
    const std::string key = pending.Text(1);
    for (Destination d : kAllDestinations) {
      if (key != DestinationKey(d)) continue;
      Job job;
      job.item = pending.Text(0);
      job.tries = static_cast<int>(pending.Int(2));
      const std::string kind = pending.Text(3);
      job.message.kind = kind == "summary" ? AlertKind::Summary : AlertKind::Rating;
      job.message.shop = pending.Text(4);
      job.message.tid = pending.Text(5);
      job.message.buyer = pending.Text(6);
      job.message.result = pending.Text(7);
      job.message.comment = pending.Text(8);
      job.message.time = pending.Text(9);
      job.message.day = pending.Text(10);
      ReadFigures(pending.Text(11), job.message);
      Enqueue(d, std::move(job));
    }
  }
  return true;
}

void AlertOutbox::Keep(const std::string& item, const AlertMessage& m, const std::vector<Destination>& destinations) {
  if (db_ == nullptr) return;
  for (Destination d : destinations) {
    Query one(db_,
              "INSERT OR IGNORE INTO alert_sends(item,destination,state,tries,kind,shop,tid,buyer,result,comment,time,"
              "day,figures) VALUES(?,?,0,0,?,?,?,?,?,?,?,?,?)");
    one.Bind(1, item).Bind(2, std::string(DestinationKey(d))).Bind(3, std::string(KindName(m.kind))).Bind(4, m.shop);
    one.Bind(5, m.tid).Bind(6, m.buyer).Bind(7, m.result).Bind(8, m.comment).Bind(9, m.time).Bind(10, m.day);
    one.Bind(11, Figures(m));
    one.Step();
  }
}

void AlertOutbox::Mark(const std::string& item, Destination destination, int state, int tries) {
  if (db_ == nullptr) return;
  Query update(db_, "UPDATE alert_sends SET state=?, tries=? WHERE item=? AND destination=?");
  update.Bind(1, std::int64_t{state}).Bind(2, std::int64_t{tries}).Bind(3, item);
  update.Bind(4, std::string(DestinationKey(destination))).Step();
}

void AlertOutbox::Raise(const BuyerAlert& alert) {
  const std::vector<Destination> destinations = settings_.Destinations();
  if (destinations.empty()) return;
  AlertMessage m;
  m.kind = AlertKind::Rating;
  m.shop = shop_;
  m.tid = alert.tid;
  m.buyer = alert.buyer;
  m.result = alert.result;
  m.comment = alert.comment;
  m.time = alert.time.empty() ? TimeText(clock_.Now()) : alert.time;
  Keep(alert.tid, m, destinations);
  for (Destination d : destinations) Enqueue(d, Job{alert.tid, m, 0});
}

void AlertOutbox::ChangeSettings(const AlertSettings& settings) {
  settings_ = settings;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->settings = settings;
    ++shared_->generation;
  }
  shared_->wake.notify_all();
}

AlertMessage AlertOutbox::SummaryOf(const std::string& day, const std::string& from, const std::string& to) {
  AlertMessage m;
  m.kind = AlertKind::Summary;
  m.shop = shop_;
  m.day = day;
  m.time = TimeText(clock_.Now());
  Query given(db_,
              "SELECT started, count(*) FROM ratings WHERE outcome='rated' AND time>=? AND time<? GROUP BY started");
  given.Bind(1, from).Bind(2, to);
  while (given.Ok() && given.Step() == SQLITE_ROW) {
    const std::string started = given.Text(0);
    if (started == "automatic") m.givenAutomatic += static_cast<int>(given.Int(1));
    else if (started == "early") m.givenEarly += static_cast<int>(given.Int(1));
    // The selection command answers buyer-rated orders.
    else if (started == "answer" || started == "selection") m.givenAnswered += static_cast<int>(given.Int(1));
  }
  Query received(db_, "SELECT result, count(*) FROM buyer_alerts WHERE time>=? AND time<? GROUP BY result");
  received.Bind(1, from).Bind(2, to);
  while (received.Ok() && received.Step() == SQLITE_ROW) {
    if (received.Text(0) == "neutral") m.receivedNeutral += static_cast<int>(received.Int(1));
    if (received.Text(0) == "bad") m.receivedBad += static_cast<int>(received.Int(1));
  }
  return m;
}

void AlertOutbox::CheckSummary() {
  const std::vector<Destination> destinations = settings_.Destinations();
  if (settings_.summaryHour < 0 || destinations.empty() || db_ == nullptr) return;
  const auto now = static_cast<std::int64_t>(clock_.Now());
  const std::string today = FormatPlatformTime(now).substr(0, 10);
  const std::optional<std::int64_t> midnight = ParsePlatformTime(today + " 00:00:00");
  if (!midnight || now < *midnight + settings_.summaryHour * 3600) return;
  const std::string item = "summary " + today;
  Query known(db_, "SELECT 1 FROM alert_sends WHERE item=? LIMIT 1");
  known.Bind(1, item);
  if (known.Step() == SQLITE_ROW) return;
  const std::int64_t end = *midnight + settings_.summaryHour * 3600;
  const AlertMessage m = SummaryOf(today, FormatPlatformTime(end - 86400), FormatPlatformTime(end));
  Keep(item, m, destinations);
  for (Destination d : destinations) Enqueue(d, Job{item, m, 0});
}

void AlertOutbox::Enqueue(Destination destination, Job job) {
  ++pending_;
  const auto lane = static_cast<std::size_t>(destination);
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->queues[lane].push_back(std::move(job));
  }
  shared_->wake.notify_all();
  if (!lanes_[lane].joinable()) lanes_[lane] = std::thread([this, destination] { Lane(destination); });
}

void AlertOutbox::Lane(Destination destination) {
  const std::shared_ptr<Shared> shared = shared_;
  auto& queue = shared->queues[static_cast<std::size_t>(destination)];
  const std::vector<int> pauses = options_.retryPausesMs;
  const int timeout = options_.timeoutSeconds;
  EventPump& pump = pump_;
  auto post = [&](const Job& job, AlertEvent::Kind kind, const std::string& why) {
    pump.Post([this, shared, destination, job, kind, why] {
      {
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (!shared->alive) return;
      }
      Reported(destination, job, kind, why);
    });
  };
  for (;;) {
    Job job;
    AlertSettings settings;
    {
      std::unique_lock<std::mutex> lock(shared->mutex);
      shared->wake.wait(lock, [&] { return !shared->alive || !queue.empty(); });
      if (!shared->alive) return;
      job = queue.front();
      settings = shared->settings;
    }
    bool set = false;
    for (Destination d : settings.Destinations()) set = set || d == destination;
    const DeliveryOutcome outcome =
        set ? Deliver(destination, settings, job.message, timeout, &shared->cancel)
            : DeliveryOutcome{false, std::string("已不再设置") + DestinationName(destination)};
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->alive) return;
    ++job.tries;
    if (outcome.delivered || !set || job.tries > static_cast<int>(pauses.size())) {
      queue.pop_front();
      lock.unlock();
      post(job, outcome.delivered ? AlertEvent::Kind::Sent : AlertEvent::Kind::GaveUp, outcome.why);
      continue;
    }
    queue.front().tries = job.tries;
    post(job, AlertEvent::Kind::Retrying, outcome.why);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(pauses[job.tries - 1]);
    const int generation = shared->generation;
    shared->wake.wait_until(lock, until, [&] { return !shared->alive || shared->generation != generation; });
    if (!shared->alive) return;
  }
}

void AlertOutbox::Reported(Destination destination, const Job& job, AlertEvent::Kind kind, const std::string& why) {
  AlertEvent event;
  event.kind = kind;
  event.destination = destination;
  event.about = job.message.kind;
  event.item = job.message.kind == AlertKind::Summary ? job.message.day : job.item;
  event.why = why;
  event.tries = job.tries;
  if (kind == AlertEvent::Kind::Retrying) {
    Mark(job.item, destination, kPending, job.tries);
  } else {
    Mark(job.item, destination, kind == AlertEvent::Kind::Sent ? kSent : kGivenUp, job.tries);
    --pending_;
  }
  if (report_) report_(event);
}

std::vector<std::pair<Destination, DeliveryOutcome>> SendTestAlerts(const AlertSettings& settings,
                                                                    const std::string& shop, double now,
                                                                    int timeoutSeconds) {
  AlertMessage m;
  m.kind = AlertKind::Test;
  m.shop = shop;
  m.time = TimeText(now);
  std::vector<std::pair<Destination, std::future<DeliveryOutcome>>> sends;
  for (Destination d : settings.Destinations())
    sends.emplace_back(d, std::async(std::launch::async, [=] { return Deliver(d, settings, m, timeoutSeconds); }));
  std::vector<std::pair<Destination, DeliveryOutcome>> outcomes;
  for (auto& [d, outcome] : sends) outcomes.emplace_back(d, outcome.get());
  return outcomes;
}

std::string TestAlertProblem(const AlertSettings& settings) {
  if (std::string problem = AlertSettingsProblem(settings); !problem.empty()) return problem;
  return settings.Destinations().empty() ? "请先填写至少一个提醒方式。" : "";
}

std::string TestAlertText(const std::vector<std::pair<Destination, DeliveryOutcome>>& outcomes) {
  std::string text;
  for (const auto& [destination, outcome] : outcomes) {
    if (!text.empty()) text += "\n";
    text += std::string(DestinationName(destination)) + "：" +
            (outcome.delivered ? std::string("已送达") : "未送达（" + outcome.why + "）");
  }
  return text;
}

}  // namespace qm
