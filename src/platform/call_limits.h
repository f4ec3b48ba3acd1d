#pragma once
// The platform's call limits, waited out. The platform counts the calls of
// each application key and answers "App Call Limited" (code 7) when the key's
// calls of the day are used up, or when it bans one method for a while. Such
// a call was not carried out: it goes out again once the limit has passed.
// A limit belongs to the key, not to one request, so while one is known to
// be in force the calls it covers wait before they go out instead of adding
// to the count. A wait is not a failure: no page counts as failed, no rating
// as refused, no key as refused for it.
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/platform_time.h"
#include "platform/transport.h"
#include "settings/app_session.h"

namespace qm {

// The rating form's method, as the limits name it.
inline constexpr const char* kRatingFormMethod = "taobao.traderate.list.add";

// One spell of waiting, as the run says it (once per spell).
struct CallLimitWait {
  bool daily = false;   // the key's calls of the day are used up; otherwise `method` is banned
  std::string method;   // the method whose call met the limit
  double until = 0;     // platform time at which calls go out again
  double seconds = 0;   // the wait, from the moment the limit was met
};

class CallLimits {
 public:
  using Listener = std::function<void(const CallLimitWait&)>;

  // Limits kept on the platform's `clock` (PlatformLink keeps one per key).
  explicit CallLimits(std::shared_ptr<const PlatformClock> clock) : clock_(std::move(clock)) {}

  // Who hears of each new spell (called on the thread that met the limit);
  // an empty one hears nothing.
  void Listen(Listener listener);
  // Every wait under way ends now, without its call (the run is ending).
  void EndWaits();

  // Before a call of `method`: waits while a limit known to cover it is in
  // force. False when the wait was cut short (a stop, `cancelled`, EndWaits).
  bool WaitBefore(const std::string& method, const std::function<bool()>& cancelled = {});
  // After a call of `method` with its decoded reply: counts the call; true
  // when the reply is a call limit, which is then in force until it has passed.
  bool Met(const std::string& method, const std::string& replyText);

  // Calls made through here on the platform's present day (Beijing time).
  long RequestsToday() const;
  // The calls counted since the last take, by Beijing day ("YYYY-MM-DD"),
  // for the run's record of its requests per day. They wait here until a
  // run takes them, so the calls of the start-up are not lost.
  std::map<std::string, long> TakeCounted();
  // Who hears that counted calls wait to be taken (called on the counting
  // thread, once until they are taken); an empty one hears nothing.
  void OnCounted(std::function<void()> heard);

 private:
  // Counts a call made at `now`; who is to hear of it, when anyone is.
  std::function<void()> Count(double now);

  std::shared_ptr<const PlatformClock> clock_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  Listener listener_;
  long generation_ = 0;            // EndWaits moves it on
  std::map<std::string, double> until_;  // "" for the whole key (the day's calls), else a method
  long long day_ = 0;
  long today_ = 0;
  std::map<std::string, long> counted_;  // not yet taken, by day
  std::function<void()> onCounted_;
};

struct PlatformAnswer {
  std::string text;      // the decoded reply; empty when nothing came
  bool arrived = false;  // a reply came (transport.h)
  bool sent = false;     // false: a wait was cut short and nothing went out
};

// One call of a gateway method (or the rating form): waits out a limit in
// force, sends what `build` makes (built anew for every try, so that its
// timestamp and signature are fresh), and while the reply is a call limit
// waits as long as it says and sends again.
PlatformAnswer CallPlatform(const Account& account, const std::string& method,
                            const std::function<WebRequest()>& build, const std::function<bool()>& cancelled = {});

}  // namespace qm
