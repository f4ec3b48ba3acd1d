#pragma once
// The web page's side of a run, on the runner's thread: what the page shows
// (the two lists, the alerts, the settings, the open question, the latest
// messages), the seller's actions, and the questions of those actions. The
// actions are the desktop's own (rating/manual_rating.h); their questions
// wait for the page's answer the way a modal box waits on the desktop, with
// the run's events going on meanwhile. Nothing here is touched from another
// thread: the server reaches it through queued calls (web_server.h).
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "util/ports.h"

namespace qm {

class EventLoop;
class MemoryOrderList;
class SellerRun;

class WebDesk {
 public:
  // What an action reports to the page, as JSON, once it has started: before
  // its question when it asks one, or when it is done.
  using Reply = std::function<void(const std::string& json)>;

  WebDesk(SellerRun& run, MemoryOrderList& unratedView, MemoryOrderList& buyerRatedView, EventLoop& loop);
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
  // "release-buyer", "release-kept", "question", "seen", "settings") with its
  // JSON `args`; `reply` is called exactly once.
  void Act(const std::string& action, const std::string& args, const Reply& reply);
  // The rating log's entries matching `filter`, newest first, as JSON / as CSV.
  std::string Log(const std::string& filter, int limit);
  std::string LogCsv(const std::string& filter);

 private:
  class PagePrompts;
  struct Question {
    std::uint64_t id = 0;
    std::string title, text;
    std::optional<bool> answer;
  };
  struct Note {
    std::uint64_t id = 0;
    std::string kind;  // "status", "warn", "info", "notice"
    std::string title, text;
    std::uint32_t textColour = 0, background = 0xFFFFFF;
  };

  void AddNote(Note note);
  // A question of an action: shown on the page until it is answered there;
  // cancelled when the run ends or nobody answers in time.
  bool Ask(const std::string& title, const std::string& text);
  void ReplyNow(const std::string& json);
  std::string Started(bool ok, const std::string& message);

  SellerRun& run_;
  MemoryOrderList& unratedView_;
  MemoryOrderList& buyerRatedView_;
  EventLoop& loop_;
  std::function<void(const std::string&)> printStatus_;
  std::unique_ptr<Prompts> prompts_;
  std::deque<Note> notes_;
  std::uint64_t lastId_ = 0;
  std::vector<Question*> questions_;  // innermost last
  std::string status_;
  Reply pendingReply_;  // the action under way, until it has replied
  bool closed_ = false;
};

}  // namespace qm
