#pragma once
// The web page's side of a run, on the runner's thread: what the page shows
// (the two lists, the alerts, the settings, the open question, the latest
// messages, where the alerts go, the statistics), the seller's actions, and
// the questions of those actions. The
// actions are the desktop's own (rating/manual_rating.h); their questions
// wait for the page's answer the way a modal box waits on the desktop, with
// the run's events going on meanwhile. Nothing here is touched from another
// thread: the server reaches it through queued calls (web_server.h).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "util/ports.h"

namespace qm {

class AlertOutbox;
class EventLoop;
class MemoryOrderList;
class SellerRun;

class WebDesk {
 public:
  // What an action reports to the page, as JSON, once it has started: before
  // its question when it asks one, or when it is done.
  using Reply = std::function<void(const std::string& json)>;

  // `outbox`: where the run's alerts go, which a save of their settings
  // changes at once; may be null.
  WebDesk(SellerRun& run, MemoryOrderList& unratedView, MemoryOrderList& buyerRatedView, EventLoop& loop,
          AlertOutbox* outbox = nullptr);
  // Waits for a test alert still on its way.
  ~WebDesk();
  WebDesk(const WebDesk&) = delete;
  WebDesk& operator=(const WebDesk&) = delete;

  // Routes the view's boxes and notices here and keeps its status line going
  // to `view.setStatus` as before.
  void Attach(MainView& view);
  // The run's status line, as the page shows it.
  void ShowStatus(const std::string& text) { status_ = text; }
  // Questions still open are cancelled and no new action starts.
  void Close();

  // Everything the page shows, as JSON.
  std::string State();
  // Runs `action` ("rate", "answer", "keep", "release", "keep-buyer",
  // "release-buyer", "release-kept", "question", "seen", "settings",
  // "alert-settings", "alert-test") with its JSON `args`; `reply` is called
  // exactly once (for "alert-test" on another thread, once every place has
  // answered).
  void Act(const std::string& action, const std::string& args, const Reply& reply);
  // The rating log's entries matching `filter`, newest first, as JSON / as CSV.
  std::string Log(const std::string& filter, int limit);
  std::string LogCsv(const std::string& filter);
  // Where the alerts go, as JSON; of the secrets only whether one is stored.
  std::string AlertSettingsJson();
  // The figures of the last `days` days (30 or 90), as JSON / as CSV.
  std::string Stats(int days);
  std::string StatsCsv(int days);

 private:
  class PagePrompts;
  struct Question {
    std::uint64_t id = 0;
    std::string title, text;
    std::function<void(bool)> then;  // the rest of the action that asked
    std::chrono::steady_clock::time_point until;
  };
  struct Note {
    std::uint64_t id = 0;
    std::string kind;  // "status", "warn", "info", "notice"
    std::string title, text;
    std::uint32_t textColour = 0, background = 0xFFFFFF;
  };

  void AddNote(Note note);
  // A question of an action: shown on the page until it is answered there,
  // when `then` goes on with the answer; cancelled ("取消") when nobody
  // answers in time, dropped unanswered when the run ends.
  void Ask(const std::string& title, const std::string& text, std::function<void(bool)> then);
  // Cancels the questions nobody answered in time.
  void ExpireQuestions();
  void ReplyNow(const std::string& json);
  std::string Started(bool ok, const std::string& message);
  void SaveAlerts(const std::string& args, const Reply& reply);
  void TestAlerts(const std::string& args, const Reply& reply);

  SellerRun& run_;
  MemoryOrderList& unratedView_;
  MemoryOrderList& buyerRatedView_;
  EventLoop& loop_;
  std::function<void(const std::string&)> printStatus_;
  std::unique_ptr<Prompts> prompts_;
  std::deque<Note> notes_;
  std::uint64_t lastId_ = 0;
  std::vector<Question> questions_;  // one at a time: an action waits on its answer
  Timer* expiry_ = nullptr;           // the loop's, while a question waits
  std::string status_;
  Reply pendingReply_;  // the action under way, until it has replied
  bool closed_ = false;
  AlertOutbox* outbox_ = nullptr;
  std::thread test_;  // the last test alert's sends
  std::atomic<bool> testing_{false};
};

}  // namespace qm
