// How often the encoding guess of the shared files misreads a shop name:
// every two-character name of GB2312's two levels (6763² ≈ 45.7 million
// pairs) written by the Windows original in GBK, and the same names saved by
// a UTF-8 editor without a mark; then a seeded sample of three-character
// names both ways. Each name stands in a Config.ini as the only non-ASCII
// text. Prints the counts and the time a guess takes.
//
//   bench_file_encoding [three-character samples, default 20000000]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "util/file_text.h"
#include "util/text_codec.h"

namespace {

std::vector<std::string> Gb2312Hanzi() {
  std::vector<std::string> chars;
  for (int lead = 0xB0; lead <= 0xF7; ++lead) {
    for (int trail = 0xA1; trail <= 0xFE; ++trail) {
      if (lead == 0xD7 && trail >= 0xFA) continue;
      chars.push_back(std::string{static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  return chars;
}

struct Count {
  // byValidity: what deciding by validity alone (valid UTF-8 holding a byte
  // of E0 or more) would have misread.
  std::int64_t names = 0, validUtf8 = 0, misread = 0, byValidity = 0;
  std::string first;
};

void Report(const char* what, const Count& c, double seconds) {
  std::printf("%-44s names=%lld valid-utf8=%lld by-validity-alone=%lld misread=%lld (%.5f %%) %.1f ns/name%s%s\n", what,
              static_cast<long long>(c.names), static_cast<long long>(c.validUtf8),
              static_cast<long long>(c.byValidity), static_cast<long long>(c.misread),
              c.names ? 100.0 * static_cast<double>(c.misread) / static_cast<double>(c.names) : 0.0,
              c.names ? seconds * 1e9 / static_cast<double>(c.names) : 0.0, c.first.empty() ? "" : " first: ",
              c.first.c_str());
}

// The name's bytes in place of "NAME" in a Config.ini; true when it reads back as `expected`.
bool HasWideLead(const std::string& name) {
  for (unsigned char ch : name)
    if (ch >= 0xE0) return true;
  return false;
}

bool ReadsAs(std::string& file, std::size_t at, std::size_t length, const std::string& name, qm::FileEncoding expected) {
  file.replace(at, length, name);
  const qm::FileEncoding got = qm::DetectFileEncoding(file);
  return got == expected;
}

}  // namespace

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  const long samples = argc > 1 && argv[1][0] >= '0' && argv[1][0] <= '9' ? std::atol(argv[1]) : 20000000;
  const std::vector<std::string> gbk = Gb2312Hanzi();
  std::vector<std::string> utf8;
  for (const std::string& c : gbk) utf8.push_back(qm::GbkToUtf8(c));
  const std::string tail = "]\r\nappkey=23456789\r\nAppSecret=0123456789abcdef0123456789abcdef\r\n";

  {
    Count c;
    std::string file = "[" + gbk[0] + gbk[0] + tail;
    const auto t0 = Clock::now();
    for (const std::string& a : gbk) {
      for (const std::string& b : gbk) {
        const std::string name = a + b;
        ++c.names;
        c.validUtf8 += qm::IsValidUtf8(name);
        c.byValidity += qm::IsValidUtf8(name) && HasWideLead(name);
        if (!ReadsAs(file, 1, 4, name, qm::FileEncoding::Gbk)) {
          if (++c.misread == 1) c.first = qm::GbkToUtf8(name);
        }
      }
    }
    Report("two characters, GBK file", c, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  {
    Count c;
    std::string file = "[" + utf8[0] + utf8[0] + tail;
    const auto t0 = Clock::now();
    for (const std::string& a : utf8) {
      for (const std::string& b : utf8) {
        const std::string name = a + b;
        ++c.names;
        c.validUtf8 += 1;
        if (!ReadsAs(file, 1, 6, name, qm::FileEncoding::Utf8)) {
          if (++c.misread == 1) c.first = name;
        }
      }
    }
    Report("two characters, UTF-8 file without a mark", c, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  std::uint64_t state = 20261210;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (bool asGbk : {true, false}) {
    Count c;
    const std::vector<std::string>& chars = asGbk ? gbk : utf8;
    const std::size_t width = asGbk ? 6 : 9;
    std::string file = "[" + chars[0] + chars[0] + chars[0] + tail;
    const auto t0 = Clock::now();
    for (long i = 0; i < samples; ++i) {
      const std::string name = chars[next() % chars.size()] + chars[next() % chars.size()] + chars[next() % chars.size()];
      ++c.names;
      c.validUtf8 += qm::IsValidUtf8(name);
      if (asGbk) c.byValidity += qm::IsValidUtf8(name) && HasWideLead(name);
      if (!ReadsAs(file, 1, width, name, asGbk ? qm::FileEncoding::Gbk : qm::FileEncoding::Utf8)) {
        if (++c.misread == 1) c.first = asGbk ? qm::GbkToUtf8(name) : name;
      }
    }
    Report(asGbk ? "three characters (sample), GBK file" : "three characters (sample), UTF-8 file", c,
           std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return 0;
}
