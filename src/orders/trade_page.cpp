#include "orders/trade_page.h"

#include <cstring>

#include "platform/reply.h"
#include "util/text_codec.h"

namespace qm {
namespace {

constexpr std::string_view kTradeOpen = "<trade>";
constexpr std::string_view kTradeClose = "</trade>";

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsLayoutSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The first `tag` (ASCII, starting with '<') at or after `from`, letter case
// ignored; npos when there is none. Jumps from '<' to '<', so linear.
std::size_t FindTagNoCase(std::string_view text, std::string_view tag, std::size_t from) {
  while (from < text.size()) {
    const void* hit = std::memchr(text.data() + from, '<', text.size() - from);
    if (hit == nullptr) break;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    // Most tags differ from `tag` in the byte after '<'; look at it first.
    if (text.size() - at >= tag.size() && AsciiLower(text[at + 1]) == AsciiLower(tag[1]) &&
        EqualsNoCase(text.substr(at, tag.size()), tag))
      return at;
    from = at + 1;
  }
  return std::string_view::npos;
}

std::string TrimmedOfLayoutSpace(std::string raw) {
  std::size_t e = raw.size();
  while (e > 0 && IsLayoutSpace(raw[e - 1])) --e;
  raw.resize(e);
  std::size_t b = 0;
  while (b < raw.size() && IsLayoutSpace(raw[b])) ++b;
  if (b > 0) raw.erase(0, b);
  return raw;
}

// ElementText for a text extract_between has just made: without references
// it is trimmed in place instead of copied.
std::string TakeElementText(std::string raw) {
  if (raw.find('&') != std::string::npos) return ElementText(raw);
  return TrimmedOfLayoutSpace(std::move(raw));
}

void AppendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The character of a numeric reference body ("#39", "#x27"); 0 when it is not one.
unsigned long NumericReference(std::string_view body) {
  if (body.size() < 2 || body[0] != '#') return 0;
  const bool hex = body[1] == 'x' || body[1] == 'X';
  std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return 0;
  unsigned long cp = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return 0;
    }
    cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(d);
  }
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return cp;
}

// The elements a trade is read from, each by its first opening tag (exact
// letter case) and the text after it up to the next '<'.
enum TradeField { kTid, kBuyerNick, kEndTime, kBuyerRate, kSellerRate, kTradeFields };
constexpr std::string_view kFieldTags[kTradeFields] = {"<tid>", "<buyer_nick>", "<end_time>", "<buyer_rate>",
                                                      "<seller_rate>"};

// The raw text of each field of one trade; a field whose tag is missing
// stays null (data() == nullptr). One pass from '<' to '<'.
void ScanTrade(std::string_view trade, std::string_view (&fields)[kTradeFields]) {
  for (auto& f : fields) f = {};
  int found = 0;
  std::size_t at = trade.find('<');
  while (at != std::string_view::npos && found < kTradeFields) {
    const std::size_t next = trade.find('<', at + 1);
    const std::string_view rest = trade.substr(at);
    for (int i = 0; i < kTradeFields; ++i) {
      if (fields[i].data() != nullptr || !rest.starts_with(kFieldTags[i])) continue;
      // Each tag holds one '<', its first byte: the text runs to `next`, and
      // without a '<' after it there is none (an empty text, as extract_between gives).
      const std::size_t from = at + kFieldTags[i].size();
      fields[i] = next == std::string_view::npos ? trade.substr(from, 0) : trade.substr(from, next - from);
      ++found;
      break;
    }
    at = next;
  }
}

Order::Said SaidOf(std::string_view raw) {
  if (raw.data() == nullptr) return Order::Said::Unsaid;
  const std::string text = ElementText(raw);
  return text == "true" ? Order::Said::Yes : text == "false" ? Order::Said::No : Order::Said::Unsaid;
}

}  // namespace

std::string ElementText(std::string_view raw) {
  std::size_t b = 0, e = raw.size();
  while (b < e && IsLayoutSpace(raw[b])) ++b;
  while (e > b && IsLayoutSpace(raw[e - 1])) --e;
  std::string_view text = raw.substr(b, e - b);
  if (text.find('&') == std::string_view::npos) return std::string(text);

  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '&') {
      out += text[i++];
      continue;
    }
    const std::size_t semi = text.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 12) {
      out += text[i++];
      continue;
    }
    const std::string_view body = text.substr(i + 1, semi - i - 1);
    char named = 0;
    if (body == "lt") named = '<';
    else if (body == "gt") named = '>';
    else if (body == "amp") named = '&';
    else if (body == "quot") named = '"';
    else if (body == "apos") named = '\'';
    if (named != 0) {
      out += named;
    } else if (unsigned long cp = NumericReference(body); cp != 0) {
      AppendUtf8(out, cp);
    } else {
      out.append(text.substr(i, semi - i + 1));
    }
    i = semi + 1;
  }
  return out;
}

std::optional<std::string_view> AnswerBody(std::string_view reply, std::string_view root) {
  static constexpr std::string_view kError = "<error_response";
  for (std::size_t at = FindTagNoCase(reply, kError, 0); at != std::string_view::npos;
       at = FindTagNoCase(reply, kError, at + 1)) {
    // "<error_responses>" or the like is another element.
    const std::size_t after = at + kError.size();
    if (after >= reply.size() || reply[after] == '>' || reply[after] == '/' || IsLayoutSpace(reply[after]))
      return std::nullopt;
  }
  const std::string open = "<" + std::string(root);
  std::size_t from = 0, begin = std::string_view::npos;
  while ((from = reply.find(open, from)) != std::string_view::npos) {
    const std::size_t after = from + open.size();
    if (after < reply.size() && (reply[after] == '>' || IsLayoutSpace(reply[after]))) {
      begin = reply.find('>', after);
      break;
    }
    from = after;
  }
  if (begin == std::string_view::npos) return std::nullopt;
  ++begin;
  const std::size_t end = reply.find("</" + std::string(root) + ">", begin);
  if (end == std::string_view::npos) return std::nullopt;
  return reply.substr(begin, end - begin);
}

TradePage ReadTradePage(std::string_view reply, bool withEndTime, std::string_view response) {
  TradePage page;
  page.trades.reserve(100);  // a full page
  std::size_t pos = 0;
  for (;;) {
    const std::size_t open = FindTagNoCase(reply, kTradeOpen, pos);
    if (open == std::string_view::npos) break;
    const std::size_t close = FindTagNoCase(reply, kTradeClose, open + kTradeOpen.size());
    if (close == std::string_view::npos) break;
    pos = close + kTradeClose.size();
    const std::string_view match = reply.substr(open, pos - open);
    std::string_view fields[kTradeFields];
    ScanTrade(match, fields);
    Order trade;
    // A line break written as a reference ("&#10;") is no part of an order number.
    trade.tid = TrimmedOfLayoutSpace(ElementText(fields[kTid]));
    // A trade without an order number cannot be rated or listed.
    if (trade.tid.empty()) continue;
    trade.buyerNick = ElementText(fields[kBuyerNick]);
    if (withEndTime) trade.endTime = ElementText(fields[kEndTime]);
    trade.buyerRated = SaidOf(fields[kBuyerRate]);
    trade.sellerRated = SaidOf(fields[kSellerRate]);
    page.trades.push_back(std::move(trade));
  }
  page.hasNext = TakeElementText(extract_between(reply, "<has_next>", "<")) == "true";
  std::size_t end = reply.size();
  while (end > 0 && IsLayoutSpace(reply[end - 1])) --end;
  const std::string close = "</" + std::string(response) + ">";
  page.whole = reply.substr(0, end).ends_with(close);
  return page;
}

}  // namespace qm
