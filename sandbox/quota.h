#pragma once
// The platform's call limits: a daily count of calls per application key,
// and bans of one method at a time. A call past either is answered with the
// platform's "App Call Limited" error reply (code 7) and not carried out.
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace qm::sandbox {

struct QuotaOptions {
  long dailyLimit = 0;       // calls a key may make per Beijing day; 0: no limit
  // A ban starts every this many seconds of the sandbox clock, the first
  // when the options are set; 0: none.
  long banEverySeconds = 0;
  long banSeconds = 0;       // and lasts this long
  // The banned method; empty: the method of the first call made in each ban.
  std::string banMethod;
};

struct QuotaCounts {
  long callsToday = 0;     // of every key, admitted only
  long dailyRefusals = 0;  // calls turned away by the daily limit
  long banRefusals = 0;    // calls turned away by a ban
  long bans = 0;           // bans that turned a call away
};

class Quota {
 public:
  void Set(const QuotaOptions& options, std::time_t now);
  QuotaOptions Options() const;
  // One call of `method` with `appKey` at `now`: nullopt when it may go on
  // (it is counted), otherwise the error reply that turns it away.
  std::optional<std::string> Admit(const std::string& appKey, const std::string& method, std::time_t now,
                                   bool pretty);
  QuotaCounts Counts(std::time_t now) const;
  // Counts `calls` more for the key today, as other shops that share it would.
  void Spend(const std::string& appKey, long calls, std::time_t now);

 private:
  mutable std::mutex mutex_;
  QuotaOptions options_;
  std::map<std::string, std::pair<long long, long>> calls_;  // key -> (Beijing day, calls that day)
  std::time_t banStart_ = 0;                                 // when the first ban began
  long long banWindow_ = -1;                                 // the ban whose method is chosen
  std::string bannedMethod_;
  bool banCounted_ = false;
  QuotaCounts counts_;
};

}  // namespace qm::sandbox
