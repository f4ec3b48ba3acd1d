#include "headless/output.h"

#include <cstdio>
#include <ctime>

#include "util/local_time.h"

namespace qm {

namespace {

// The code point of a bidirectional control or a line or paragraph separator
// starting at line[i] (U+061C, U+200E, U+200F, U+2028..U+202E, U+2066..U+2069), or 0.
unsigned FormatControlAt(const std::string& line, std::size_t i) {
  auto at = [&](std::size_t k) { return k < line.size() ? static_cast<unsigned char>(line[k]) : 0u; };
  if (at(i) == 0xD8 && at(i + 1) == 0x9C) return 0x061C;
  if (at(i) != 0xE2) return 0;
  const unsigned code = 0x2000u | ((at(i + 1) & 0x3Fu) << 6) | (at(i + 2) & 0x3Fu);
  if (at(i + 1) != 0x80 && at(i + 1) != 0x81) return 0;
  if ((at(i + 2) & 0xC0) != 0x80) return 0;
  if (code == 0x200E || code == 0x200F || (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069))
    return code;
  return 0;
}

}  // namespace

std::string EscapedForOutput(const std::string& line) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    switch (c) {
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else if (const unsigned code = FormatControlAt(line, i); code != 0) {
      // Direction overrides and line separators would reorder or break the
      // line on a terminal; a buyer's comment may hold them.
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0x0F];
      i += code == 0x061C ? 1 : 2;
    } else if (c == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(line[i + 1]) <= 0x9F) {
      // U+0080..U+009F in UTF-8: some terminals take these as controls too.
      const auto c1 = static_cast<unsigned char>(line[++i]);
      out += "\\u00";
      out += kHex[c1 >> 4];
      out += kHex[c1 & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// One line per event on standard output, with the local time in front.
void PrintLine(const std::string& line) {
  const std::string stamp = LocalTimeOfDay(std::time(nullptr));
  const std::string text = EscapedForOutput(line);
  std::printf("%s %s\n", stamp.c_str(), text.c_str());
  std::fflush(stdout);
}

void PrintBareLine(const std::string& line) {
  std::printf("%s\n", EscapedForOutput(line).c_str());
  std::fflush(stdout);
}

}  // namespace qm
