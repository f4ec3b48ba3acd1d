#include "alerts/alert_message.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cctype>
#include <ctime>
#include <random>

#include "util/text_codec.h"

namespace qm {
namespace {

bool IsAsciiAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
bool IsAsciiAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// Length of the UTF-8 sequence that starts with `lead` (text already checked).
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// Characters that break a line or turn the text's direction around in a chat.
bool BreaksOrTurns(const std::string& seq) {
  return seq == "\xC2\x85" || seq == "\xE2\x80\xA8" || seq == "\xE2\x80\xA9" ||
         (seq.size() == 3 && seq[0] == '\xE2' && seq[1] == '\x80' && seq[2] >= '\xAA' && seq[2] <= '\xAE') ||
         (seq.size() == 3 && seq[0] == '\xE2' && seq[1] == '\x81' && seq[2] >= '\xA6' && seq[2] <= '\xA9');
}

std::string VerdictWords(const std::string& result) {
  if (result == "bad") return "差评";
  if (result == "neutral") return "中评";
  if (result == "good") return "好评";
  return NeutralisedLine(result, 20);
}

std::string FormatMailDate(std::int64_t now) {
  const std::time_t t = static_cast<std::time_t>(now);
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &t);
#else
  gmtime_r(&t, &tm);
#endif
  static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[tm.tm_wday % 7], tm.tm_mday,
                kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

// A header text as RFC 2047 words of at most 45 bytes each, cut between characters.
std::string EncodedWords(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t end = i;
    while (end < text.size() && end - i + SequenceLength(static_cast<unsigned char>(text[end])) <= 45)
      end += SequenceLength(static_cast<unsigned char>(text[end]));
    if (end == i) end = text.size();
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64(text.substr(i, end - i)) + "?=";
    i = end;
  }
  return out;
}

}  // namespace

std::string NeutralisedLine(const std::string& raw, std::size_t limit) {
  std::string text = raw;
  if (!IsValidUtf8(text))
    for (char& c : text)
      if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  std::string out;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (characters == limit) {
      out += "…";
      break;
    }
    const std::size_t length = SequenceLength(static_cast<unsigned char>(text[i]));
    const std::string seq = text.substr(i, length);
    const char c = text[i];
    const bool space = (length == 1 && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ' ')) ||
                       BreaksOrTurns(seq);
    if (space) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else if (c == '@') {
      out += "＠";
    } else if (c == ':' && text.compare(i, 3, "://") == 0) {
      out += "[:]";
    } else if (c == '.' && i > 0 && IsAsciiAlnum(text[i - 1]) && i + 1 < text.size() && IsAsciiAlpha(text[i + 1])) {
      out += "[.]";
    } else {
      out += seq;
    }
    ++characters;
    i += length;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string AlertText(const AlertMessage& m) {
  const std::string shop = "店铺：" + NeutralisedLine(m.shop, 64) + "\n";
  switch (m.kind) {
    case AlertKind::Test:
      return "Quillmere 测试提醒\n" + shop + "这是一条测试提醒：收到它，说明买家的中评、差评会送到这里。\n时间：" +
             NeutralisedLine(m.time, 32);
    case AlertKind::Summary:
      return "Quillmere 每日汇总\n" + shop + "日期：" + NeutralisedLine(m.day, 16) + "（此前 24 小时）\n给出的评价：" +
             std::to_string(m.givenAutomatic + m.givenEarly + m.givenAnswered) + "（自动 " +
             std::to_string(m.givenAutomatic) + "，提前 " + std::to_string(m.givenEarly) + "，回评 " +
             std::to_string(m.givenAnswered) + "）\n收到的中评：" + std::to_string(m.receivedNeutral) +
             "\n收到的差评：" + std::to_string(m.receivedBad);
    case AlertKind::Rating: break;
  }
  const std::string comment = NeutralisedLine(m.comment);
  return "Quillmere 差评提醒\n" + shop + "订单：" + NeutralisedLine(m.tid, 32) + "\n买家：" +
         NeutralisedLine(m.buyer, 64) + "\n评价：" + VerdictWords(m.result) + "\n评语：" +
         (comment.empty() ? "（无评语）" : comment) + "\n时间：" + NeutralisedLine(m.time, 32);
}

std::string AlertSubject(const AlertMessage& m) {
  const std::string shop = NeutralisedLine(m.shop, 64);
  switch (m.kind) {
    case AlertKind::Test: return "Quillmere 测试提醒（" + shop + "）";
    case AlertKind::Summary: return "Quillmere 每日汇总（" + shop + "，" + NeutralisedLine(m.day, 16) + "）";
    case AlertKind::Rating: break;
  }
  return "Quillmere 差评提醒（" + shop + "）：订单 " + NeutralisedLine(m.tid, 32) + " 收到" + VerdictWords(m.result);
}

std::string JsonString(const std::string& raw) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = raw;
  if (!IsValidUtf8(text))
    for (char& c : text)
      if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  std::string out = "\"";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '&') {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string RobotTextBody(const AlertMessage& m) {
  return "{\"msgtype\":\"text\",\"text\":{\"content\":" + JsonString(AlertText(m)) + "}}";
}

std::string WebhookBody(const AlertMessage& m) {
  const char* kind = m.kind == AlertKind::Rating ? "rating" : m.kind == AlertKind::Summary ? "summary" : "test";
  std::string body = "{\"kind\":\"" + std::string(kind) + "\",\"shop\":" + JsonString(m.shop);
  if (m.kind == AlertKind::Rating) {
    body += ",\"order\":" + JsonString(m.tid) + ",\"buyer\":" + JsonString(m.buyer) +
            ",\"verdict\":" + JsonString(m.result) + ",\"comment\":" + JsonString(m.comment);
  }
  if (m.kind == AlertKind::Summary) {
    body += ",\"day\":" + JsonString(m.day) + ",\"given\":{\"automatic\":" + std::to_string(m.givenAutomatic) +
            ",\"early\":" + std::to_string(m.givenEarly) + ",\"answered\":" + std::to_string(m.givenAnswered) +
            "},\"received\":{\"neutral\":" + std::to_string(m.receivedNeutral) +
            ",\"bad\":" + std::to_string(m.receivedBad) + "}";
  }
  return body + ",\"time\":" + JsonString(m.time) + ",\"text\":" + JsonString(AlertText(m)) + "}";
}

std::string Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

std::string DingTalkSign(std::int64_t timestampMs, const std::string& secret) {
  const std::string toSign = std::to_string(timestampMs) + "\n" + secret;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
           reinterpret_cast<const unsigned char*>(toSign.data()), toSign.size(), digest, &length) == nullptr)
    return {};
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (char c : Base64(std::string(reinterpret_cast<const char*>(digest), length))) {
    if (IsAsciiAlnum(c)) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[static_cast<unsigned char>(c) >> 4];
      encoded += kHex[static_cast<unsigned char>(c) & 0x0F];
    }
  }
  return encoded;
}

std::string DingTalkAddress(const std::string& webhook, const std::string& secret, std::int64_t timestampMs) {
  if (secret.empty()) return webhook;
  return webhook + (webhook.find('?') == std::string::npos ? "?" : "&") + "timestamp=" + std::to_string(timestampMs) +
         "&sign=" + DingTalkSign(timestampMs, secret);
}

std::string MailText(const AlertMessage& m, const std::string& from, const std::string& to, std::int64_t now) {
  thread_local std::mt19937_64 draw{std::random_device{}()};
  std::string body = Base64(AlertText(m) + "\n");
  std::string wrapped;
  for (std::size_t i = 0; i < body.size(); i += 76) wrapped += body.substr(i, 76) + "\r\n";
  const std::size_t at = from.find('@');
  const std::string host = at == std::string::npos ? "quillmere" : from.substr(at + 1);
  return "Date: " + FormatMailDate(now) + "\r\nFrom: <" + from + ">\r\nTo: " + to + "\r\nSubject: " +
         EncodedWords(AlertSubject(m)) + "\r\nMessage-ID: <" + std::to_string(now) + "." + std::to_string(draw()) + "@" +
         host + ">\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
         "Content-Transfer-Encoding: base64\r\nX-Mailer: Quillmere\r\n\r\n" + wrapped;
}

}  // namespace qm
