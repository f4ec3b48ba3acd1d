#include "util/text_codec.h"

#include <cerrno>
#include <iconv.h>

namespace qm {
namespace {

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr char32_t kReplacement = 0xFFFD;
constexpr char kGbkDefaultChar = '?';

// Decodes one UTF-8 sequence at text[i]. Returns the code point, or -1 for an
// invalid sequence; `length` receives the bytes taken (at least 1). An invalid
// sequence takes its lead byte and the continuation bytes that fit it, so one
// broken character gives one replacement.
long DecodeUtf8(std::string_view text, std::size_t i, std::size_t& length) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  length = 1;
  if (b0 < 0x80) return b0;
  int need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // no overlongs
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // no overlongs
    if (b0 == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
  } else {
    return -1;
  }
  for (int k = 1; k <= need; ++k) {
    if (i + k >= text.size()) return -1;
    const auto b = static_cast<unsigned char>(text[i + k]);
    const unsigned char min = k == 1 ? lo : 0x80;
    const unsigned char max = k == 1 ? hi : 0xBF;
    if (b < min || b > max) return -1;
    cp = (cp << 6) | (b & 0x3F);
    length = k + 1;
  }
  return static_cast<long>(cp);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// One conversion descriptor per direction and thread (iconv_t is not safe to
// share between threads). Invalid when the C library lacks the code page.
class Converter {
 public:
  Converter(const char* to, const char* from) {
    cd_ = iconv_open(to, from);
    if (cd_ == reinterpret_cast<iconv_t>(-1) && std::string_view(from) == "CP936") {
      cd_ = iconv_open(to, "GBK");
    } else if (cd_ == reinterpret_cast<iconv_t>(-1) && std::string_view(to) == "CP936") {
      cd_ = iconv_open("GBK", from);
    }
  }
  ~Converter() {
    if (valid()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much of in[pos..] as possible, appending to out. Returns 0 when
  // everything was converted, otherwise the errno (EILSEQ, EINVAL) with `pos`
  // at the offending byte.
  int Run(std::string_view in, std::size_t& pos, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // initial shift state
    char buffer[4096];
    while (pos < in.size()) {
      char* src = const_cast<char*>(in.data() + pos);
      std::size_t srcLeft = in.size() - pos;
      char* dst = buffer;
      std::size_t dstLeft = sizeof buffer;
      const std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      const int err = r == static_cast<std::size_t>(-1) ? errno : 0;
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      pos = static_cast<std::size_t>(src - in.data());
      if (err == E2BIG) continue;
      if (err != 0) return err;
    }
    return 0;
  }

 private:
  iconv_t cd_;
};

Converter& GbkDecoder() {
  thread_local Converter c("UTF-8", "CP936");
  return c;
}

Converter& GbkEncoder() {
  thread_local Converter c("CP936", "UTF-8");
  return c;
}

bool IsGbkLeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool IsGbkTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  std::string out;
  out.reserve(gbk.size() + gbk.size() / 2);
  Converter& conv = GbkDecoder();
  std::size_t pos = 0;
  while (pos < gbk.size()) {
    if (!conv.valid()) {
      // No code page in the C library: ASCII survives, the rest is replaced.
      const auto b = static_cast<unsigned char>(gbk[pos]);
      if (b < 0x80) {
        out.push_back(static_cast<char>(b));
        ++pos;
      } else {
        out += kReplacementUtf8;
        pos += (IsGbkLeadByte(b) && pos + 1 < gbk.size()) ? 2 : 1;
      }
      continue;
    }
    const int err = conv.Run(gbk, pos, out);
    if (err == 0) break;
    out += kReplacementUtf8;
    if (err == EINVAL) break;  // a lead byte cut off at the end
    // A well-formed pair without a character counts as one; a lead byte
    // followed by a byte that cannot trail it is dropped alone, so an ASCII
    // byte after it (a line break, a quote) survives.
    const auto lead = static_cast<unsigned char>(gbk[pos]);
    pos += (IsGbkLeadByte(lead) && pos + 1 < gbk.size() &&
            IsGbkTrailByte(static_cast<unsigned char>(gbk[pos + 1])))
               ? 2
               : 1;
  }
  return out;
}

std::string Utf8ToGbk(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  Converter& conv = GbkEncoder();
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    if (conv.valid()) {
      const int err = conv.Run(utf8, pos, out);
      if (err == 0) break;
    }
    // At pos: a character GBK lacks, an invalid sequence, or (without a code
    // page) any non-ASCII character. Each becomes one default character.
    std::size_t length = 1;
    const long cp = DecodeUtf8(utf8, pos, length);
    if (!conv.valid() && cp >= 0 && cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else {
      out.push_back(kGbkDefaultChar);
    }
    pos += length;
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t length = 1;
    if (DecodeUtf8(text, i, length) < 0) return false;
    i += length;
  }
  return true;
}

bool GbkCanHold(std::string_view text) { return IsValidUtf8(text) && GbkToUtf8(Utf8ToGbk(text)) == text; }

std::string SanitizeUtf8(std::string_view text) {
  // Most texts are well-formed already: check first, copy once.
  {
    std::size_t i = 0;
    bool clean = true;
    while (i < text.size()) {
      if (static_cast<unsigned char>(text[i]) < 0x80) {
        ++i;
        continue;
      }
      std::size_t length = 1;
      if (DecodeUtf8(text, i, length) < 0) {
        clean = false;
        break;
      }
      i += length;
    }
    if (clean) return std::string(text);
  }
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    // Runs of ASCII (most of every platform reply) go over in one piece.
    std::size_t run = i;
    while (run < text.size() && static_cast<unsigned char>(text[run]) < 0x80) ++run;
    if (run > i) {
      out.append(text.substr(i, run - i));
      i = run;
      continue;
    }
    std::size_t length = 1;
    if (DecodeUtf8(text, i, length) < 0) {
      out += kReplacementUtf8;
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    std::size_t length = 1;
    const long decoded = DecodeUtf8(utf8, i, length);
    const char32_t cp = decoded < 0 ? kReplacement : static_cast<char32_t>(decoded);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t u = utf16[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (static_cast<char32_t>(utf16[i + 1]) - 0xDC00);
      AppendUtf8(out, cp);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace qm
