#include "platform/time_check.h"

#include <cctype>
#include <memory>
#include <optional>
#include <string>

#include "platform/call_limits.h"
#include "platform/platform_link.h"
#include "platform/platform_time.h"
#include "platform/reply.h"
#include "platform/request.h"
#include "platform/transport.h"

namespace qm {
namespace {

std::size_t CodePoints(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

constexpr const char* kTimeMethod = "taobao.time.get";

// The platform's time texts and dates have whole seconds: the moment read
// lies somewhere in the second after.
constexpr double kHalfSecond = 0.5;

// One question; *dateSet when a refusal for the timestamp set the clock by its date.
bool AskTime(const Account& account, bool* dateSet) {
  // Counted with the run's other calls; a call limit is waited out and the
  // question asked again.
  const std::shared_ptr<CallLimits> limits = LimitsOf(account);
  PlatformClock& clock = ClockOf(account);
  double sent = 0;
  double middle = 0;
  WebReply answer;
  std::string reply;
  do {
    if (!limits->WaitBefore(kTimeMethod)) return false;
    sent = clock.Elapsed();
    answer = web_request(Through(account, WebRequest::Get(TimeGetUrl(account)).withHeaders()));
    middle = (sent + clock.Elapsed()) / 2;
    reply = decode_reply(answer.body);
  } while (limits->Met(kTimeMethod, reply));
  const std::string time = extract_between(reply, "<time>", "<");
  if (CodePoints(time) == 19) {
    if (const auto at = ParsePlatformTime(time)) clock.NoteTime(static_cast<double>(*at) + kHalfSecond, middle);
    return true;
  }
  // Only the platform's own refusal of the timestamp says whose clock is
  // right; the date of any other page (a portal's, a proxy's) says nothing.
  if (ClassifyReply(reply, "time_get_response") == ReplyKind::ClockRefused) {
    if (const auto date = ReplyDate(answer.headers)) {
      clock.NoteTime(static_cast<double>(*date) + kHalfSecond, middle);
      *dateSet = true;
    }
  }
  return false;
}

}  // namespace

std::optional<std::int64_t> ReplyDate(const std::string& headers) {
  std::size_t line = 0;
  while (line < headers.size()) {
    std::size_t end = headers.find('\n', line);
    if (end == std::string::npos) end = headers.size();
    std::string_view text(headers.data() + line, end - line);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (text.size() > 5 && std::tolower(static_cast<unsigned char>(text[0])) == 'd' &&
        std::tolower(static_cast<unsigned char>(text[1])) == 'a' &&
        std::tolower(static_cast<unsigned char>(text[2])) == 't' &&
        std::tolower(static_cast<unsigned char>(text[3])) == 'e' && text[4] == ':') {
      text.remove_prefix(5);
      while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
      while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
      return ParseHttpDate(text);
    }
    line = end + 1;
  }
  return std::nullopt;
}

bool SyncPlatformClock(const Account& account) {
  bool dateSet = false;
  if (AskTime(account, &dateSet)) return true;
  return dateSet && AskTime(account, &dateSet);
}

}  // namespace qm
