#pragma once
// The alerts on their way to the seller's phone and team chats. Each alert
// (and each day's summary) is kept with one send per destination in the
// seller's rating log, so a send still pending when the program ends goes
// out at its next start. Every destination has its own worker thread: a
// destination that stalls or refuses holds up neither a rating nor the other
// destinations. A failed send is tried again after growing pauses and given
// up after the last one; each outcome comes back to the UI thread as an
// event, where the send's mark is written.
#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "alerts/alert_delivery.h"
#include "alerts/alert_message.h"
#include "alerts/alert_settings.h"
#include "rating/rating_log.h"

struct sqlite3;

namespace qm {

class EventPump;

// 10 s, 30 s, 1, 2, 5, 10, 30 minutes, then hourly: given up about six hours after the alert.
inline const std::vector<int> kDefaultAlertRetryPausesMs = {10000,   30000,   60000,   120000,  300000,
                                                            600000,  1800000, 3600000, 3600000, 3600000,
                                                            3600000, 3600000};

struct AlertEvent {
  enum class Kind { Sent, Retrying, GaveUp };
  Kind kind = Kind::Sent;
  Destination destination = Destination::Webhook;
  AlertKind about = AlertKind::Rating;
  std::string item;  // the order number, or the summary's day
  std::string why;   // the last failure
  int tries = 0;
};

// The event as one line in the seller's words ("差评提醒（订单 1）已发到钉钉", ...).
std::string AlertEventText(const AlertEvent& event);

class AlertOutbox {
 public:
  struct Options {
    std::vector<int> retryPausesMs = kDefaultAlertRetryPausesMs;
    int timeoutSeconds = kDeliveryTimeoutSeconds;
  };

  // `report` runs on the pump's thread for every send's outcome; messages
  // are timed by `clock`, which outlives the outbox.
  AlertOutbox(EventPump& pump, const PlatformClock& clock, std::string shop, AlertSettings settings, std::function<void(const AlertEvent&)> report,
              Options options);
  // Ends the workers; a send under way is cut short and stays pending.
  ~AlertOutbox();
  AlertOutbox(const AlertOutbox&) = delete;
  AlertOutbox& operator=(const AlertOutbox&) = delete;

  // Opens the sends kept in the rating log at `logPath` and starts those
  // still pending. False with the reason when the file cannot be used (the
  // outbox still sends, without keeping anything).
  bool Open(const std::string& logPath, std::string* error);
  // A buyer's neutral or bad rating: one send to each destination set now.
  void Raise(const BuyerAlert& alert);
  // New destinations count for the alerts raised from now on; sends still
  // pending are tried again at once at the destination's new address, or
  // given up when it is no longer set.
  void ChangeSettings(const AlertSettings& settings);
  const AlertSettings& Settings() const { return settings_; }
  // Sends the day's summary once the seller's hour (Beijing time, the
  // platform's clock) has come and it was not sent today; call it now and then.
  void CheckSummary();
  // Sends not yet delivered or given up.
  int Pending() const { return pending_; }

 private:
  struct Job {
    std::string item;
    AlertMessage message;
    int tries = 0;
  };
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake;
    bool alive = true;
    std::atomic<bool> cancel{false};
    AlertSettings settings;
    int generation = 0;  // raised with every change of the settings
    std::array<std::deque<Job>, 4> queues;
  };

  void Enqueue(Destination destination, Job job);
  void Lane(Destination destination);
  void Reported(Destination destination, const Job& job, AlertEvent::Kind kind, const std::string& why);
  void Keep(const std::string& item, const AlertMessage& message, const std::vector<Destination>& destinations);
  void Mark(const std::string& item, Destination destination, int state, int tries);
  AlertMessage SummaryOf(const std::string& day, const std::string& from, const std::string& to);

  EventPump& pump_;
  const PlatformClock& clock_;
  std::string shop_;
  AlertSettings settings_;
  std::function<void(const AlertEvent&)> report_;
  Options options_;
  sqlite3* db_ = nullptr;
  int pending_ = 0;
  std::shared_ptr<Shared> shared_;
  std::array<std::thread, 4> lanes_;
};

// A test alert to every destination of `settings` at once, one try each;
// returns when all have answered (a worker's call, never the UI thread's).
// The message says it was sent at `now`, platform time.
std::vector<std::pair<Destination, DeliveryOutcome>> SendTestAlerts(const AlertSettings& settings,
                                                                    const std::string& shop, double now,
                                                                    int timeoutSeconds = kDeliveryTimeoutSeconds);
// Why no test alert can go out with `settings`, in the seller's words; empty when one can.
std::string TestAlertProblem(const AlertSettings& settings);
// What each place answered, a line each ("钉钉：已送达", "邮件：未送达（…）").
std::string TestAlertText(const std::vector<std::pair<Destination, DeliveryOutcome>>& outcomes);

}  // namespace qm
