#include "platform/reply.h"

#include <cerrno>
#include <cstdlib>

#include "util/text_codec.h"

namespace qm {
namespace {

// Text up to (not including) its first NUL.
std::string_view UpToNul(std::string_view text) {
  std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

bool IsUnreserved(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
         c == '-' || c == '_';
}

void AppendEscape(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

std::string Trimmed(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// The platform's codes about the credentials: the signature (a wrong
// secret), the session key missing or refused, the application key missing
// or unknown.
bool AboutCredentials(const PlatformError& e) {
  if (e.code == "25" || e.code == "26" || e.code == "27" || e.code == "28" || e.code == "29") return true;
  // Its sub-codes of the session key ("invalid-sessionkey", "isv.invalid-sessionkey", "sessionkey-not-exist").
  return e.subCode.rfind("isp.", 0) != 0 && e.subCode.find("sessionkey") != std::string::npos;
}

bool AboutTimestamp(const PlatformError& e) { return e.code == "30" || e.code == "31"; }

}  // namespace

std::string decode_reply(std::string_view bytes) {
  // A zero byte is always the character U+0000 in UTF-8 (never part of a longer
  // sequence), so cutting at the first zero byte is cutting at the first NUL
  // character of the decoded text.
  return SanitizeUtf8(UpToNul(bytes));
}

std::string DecodeWholeReply(std::string_view bytes) {
  if (bytes.find('\0') == std::string_view::npos) return SanitizeUtf8(bytes);
  std::string text = SanitizeUtf8(bytes);
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    if (c == '\0') {
      out += "\xEF\xBF\xBD";
    } else {
      out += c;
    }
  }
  return out;
}

std::string extract_between_from(std::string_view text, std::string_view open, std::string_view close,
                                 std::size_t* pos) {
  std::size_t from = pos != nullptr ? *pos : 0;
  auto fail = [pos] {
    if (pos != nullptr) *pos = std::string_view::npos;
    return std::string();
  };
  if (from > text.size()) return fail();
  // The markers are ASCII and the text UTF-8: a byte search can only match at
  // character boundaries, since no byte of a multi-byte sequence is ASCII.
  std::size_t start = text.find(open, from);
  if (start == std::string_view::npos) return fail();
  start += open.size();
  std::size_t end = text.find(close, start);
  if (end == std::string_view::npos) return fail();
  if (pos != nullptr) *pos = end + close.size();
  return std::string(text.substr(start, end - start));
}

std::string extract_between(std::string_view text, std::string_view open, std::string_view close) {
  return extract_between_from(text, open, close, nullptr);
}

std::string to_utf8(std::string_view text) {
  // Program text is UTF-8 already; whatever is not well-formed becomes U+FFFD
  // rather than going out as stray bytes.
  return SanitizeUtf8(UpToNul(text));
}

std::string percent_encode(std::string_view text) {
  const std::string bytes = to_utf8(text);
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c > 126) {
      // A byte above 126 takes the byte after it along, whatever that byte is:
      // the decoded text is the same, and the receiving form expects it so.
      AppendEscape(out, c);
      if (i + 1 < bytes.size()) {
        AppendEscape(out, static_cast<unsigned char>(bytes[i + 1]));
        ++i;
      }
    } else if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      AppendEscape(out, c);
    }
  }
  return out;
}

bool CompleteElement(const std::string& text, const std::string& name) {
  const std::size_t open = text.find("<" + name);
  return open != std::string::npos && text.find("</" + name + ">", open) != std::string::npos;
}

namespace {

std::string ErrorField(const std::string& text, const char* name) {
  std::string open = std::string("<") + name + ">";
  std::string value = extract_between(text, open, "<");
  const std::size_t b = value.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return value.substr(b, value.find_last_not_of(" \t\r\n") - b + 1);
}

bool StartsWith(const std::string& text, std::string_view prefix) { return text.rfind(prefix, 0) == 0; }

// The N of "... last for N more seconds"; -1 without one. A number past a
// day and a half is read as that much: a wait never outlasts the next day.
long long BanSeconds(const std::string& message) {
  static constexpr std::string_view kBefore = "last for ";
  const std::size_t at = message.find(kBefore);
  if (at == std::string::npos) return -1;
  const char* digits = message.c_str() + at + kBefore.size();
  if (*digits < '0' || *digits > '9') return -1;
  errno = 0;
  char* end = nullptr;
  const long long n = std::strtoll(digits, &end, 10);
  constexpr long long kMost = 36 * 3600;
  if (errno == ERANGE || n > kMost) return kMost;
  if (std::string_view(end).rfind(" more second", 0) != 0) return -1;
  return n;
}

}  // namespace

ErrorReply ClassifyErrorReply(const std::string& text) {
  if (!CompleteElement(text, "error_response")) return ErrorReply::None;
  const PlatformError e = ReadPlatformError(text);
  if (e.code == "7" || StartsWith(e.subCode, "accesscontrol.")) return ErrorReply::CallLimited;
  if (AboutTimestamp(e)) return ErrorReply::ClockRefused;
  if (AboutCredentials(e)) return ErrorReply::KeyRefused;
  // "isv.*" names a fault of the call (an order already rated, a bad
  // argument) whatever the code; "isp.*" the platform's own.
  if (StartsWith(e.subCode, "isv.")) return ErrorReply::Refused;
  if (e.code == "10" || e.code == "15" || StartsWith(e.subCode, "isp.")) return ErrorReply::PlatformTrouble;
  return ErrorReply::Refused;
}

std::optional<CallLimit> ReadCallLimit(const std::string& text) {
  if (ClassifyErrorReply(text) != ErrorReply::CallLimited) return std::nullopt;
  CallLimit limit;
  limit.daily = ErrorField(text, "sub_code") == "accesscontrol.limited-by-app-access-count";
  limit.seconds = BanSeconds(ErrorField(text, "sub_msg"));
  if (limit.seconds < 0) limit.seconds = BanSeconds(ErrorField(text, "msg"));
  return limit;
}

std::string PlatformError::Text() const {
  std::string text = msg.empty() ? code : msg;
  if (!subCode.empty()) text += (text.empty() ? "" : " (") + subCode + (text.empty() ? "" : ")");
  return text;
}

PlatformError ReadPlatformError(const std::string& text) {
  PlatformError e;
  e.code = Trimmed(extract_between(text, "<code>", "<"));
  e.msg = Trimmed(extract_between(text, "<msg>", "<"));
  e.subCode = Trimmed(extract_between(text, "<sub_code>", "<"));
  e.subMsg = Trimmed(extract_between(text, "<sub_msg>", "<"));
  return e;
}

ReplyKind ClassifyReply(const std::string& text, const std::string& answerElement) {
  // An error reply is read first: one may echo the call's arguments, or sit
  // beside a piece of an answer.
  switch (ClassifyErrorReply(text)) {
    case ErrorReply::None: return CompleteElement(text, answerElement) ? ReplyKind::Answer : ReplyKind::NoAnswer;
    case ErrorReply::KeyRefused: return ReplyKind::KeyRefused;
    case ErrorReply::ClockRefused: return ReplyKind::ClockRefused;
    default: return ReplyKind::Trouble;
  }
}

}  // namespace qm
