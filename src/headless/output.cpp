#include "headless/output.h"

#include <cstdio>
#include <ctime>

#include "util/local_time.h"

namespace qm {

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
