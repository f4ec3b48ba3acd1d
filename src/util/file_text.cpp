#include "util/file_text.h"

#include <cstdint>
#include <vector>

#include "util/text_codec.h"

namespace qm {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// How unlikely a character is in a seller's file, roughly in bits: the
// first level of GB2312 (the 3755 common characters) is cheap, its second
// level and GBK's additions dearer, characters past the basic plane and
// private or unassigned code points dearest. A file's reading as UTF-8 and
// as GBK are summed and the cheaper one wins.
constexpr int kCommon = 12;
constexpr int kPunctuation = 12;   // GB2312 row 1: 、。“”《》…
constexpr int kFullWidth = 15;     // rows 2 and 3: ①⑴Ⅰ, ＡＢ１２
constexpr int kLessCommon = 18;    // GB2312 level 2, rows 4 to 9 (kana, Greek, pinyin, boxes)
constexpr int kGbkAddition = 22;   // in GBK, not in GB2312 (traditional and rare characters)
constexpr int kSymbol = 20;        // punctuation, symbols and emoji outside GBK
constexpr int kOtherScript = 24;   // any other assigned character of the basic plane
constexpr int kExtensionA = 26;
constexpr int kSupplementaryCjk = 36;  // CJK extensions B and later
constexpr int kAbsurd = 40;            // private use, unassigned, controls, broken sequences

bool IsGbkTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

std::size_t PairIndex(unsigned char lead, unsigned char trail) {
  return static_cast<std::size_t>(lead - 0x81) * 191 + (trail - 0x40);
}

// What every GBK pair decodes to, and the GBK code of every character of the
// basic plane that has one (GB2312's code where a character has two).
struct GbkTables {
  std::vector<char32_t> pairs;       // by PairIndex; 0 = no character
  std::vector<std::uint16_t> codes;  // by code point; 0 = none

  GbkTables() : pairs(126 * 191, 0), codes(0x10000, 0) {
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        const std::u16string units = Utf8ToUtf16(GbkToUtf8(std::string_view(bytes, 2)));
        if (units.size() != 1 || units[0] == 0xFFFD) continue;
        const char32_t cp = units[0];
        pairs[PairIndex(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail))] = cp;
        const bool gb2312 = lead >= 0xA1 && lead <= 0xF7 && trail >= 0xA1;
        if (codes[cp] == 0 || gb2312) codes[cp] = static_cast<std::uint16_t>(lead << 8 | trail);
      }
    }
  }
};

const GbkTables& Tables() {
  static const GbkTables tables;
  return tables;
}

bool IsPrivateUse(char32_t cp) { return (cp >= 0xE000 && cp <= 0xF8FF) || cp >= 0xF0000; }

int CostOfGbkCode(unsigned char lead, unsigned char trail, char32_t cp) {
  if (IsPrivateUse(cp)) return kAbsurd;  // GBK's user-defined areas
  if (trail < 0xA1 || lead < 0xA1 || lead > 0xF7) return kGbkAddition;
  if (lead >= 0xB0 && lead <= 0xD7) return kCommon;
  if (lead >= 0xD8) return kLessCommon;
  if (lead == 0xA1) return kPunctuation;
  if (lead <= 0xA3) return kFullWidth;
  if (lead <= 0xA9) return kLessCommon;
  return kGbkAddition;
}

int CostOfCodePoint(char32_t cp) {
  if (cp < 0x80) return 0;
  if (cp <= 0xFFFF) {
    if (const std::uint16_t code = Tables().codes[cp]; code != 0) {
      return CostOfGbkCode(static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code & 0xFF), cp);
    }
  }
  if (cp <= 0x9F || IsPrivateUse(cp) || (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE || cp == 0xFFFD)
    return kAbsurd;
  if ((cp >= 0x2000 && cp <= 0x2BFF) || (cp >= 0xFE00 && cp <= 0xFE0F) || (cp >= 0x1F000 && cp <= 0x1FAFF))
    return kSymbol;
  if (cp >= 0x3400 && cp <= 0x4DBF) return kExtensionA;
  if (cp >= 0x20000 && cp <= 0x3FFFF) return kSupplementaryCjk;
  if (cp > 0xFFFF) return kAbsurd;
  return kOtherScript;
}

// The cost of the bytes read as (valid) UTF-8.
long Utf8Cost(std::string_view bytes) {
  long cost = 0;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    char32_t cp = b & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < n && i + k < bytes.size(); ++k) cp = cp << 6 | (bytes[i + k] & 0x3F);
    cost += CostOfCodePoint(cp);
    i += n;
  }
  return cost;
}

// The cost of the bytes read as GBK.
long GbkCost(std::string_view bytes) {
  const GbkTables& tables = Tables();
  long cost = 0;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead == 0x80) {  // the euro sign, the code page's one extra single byte
      cost += kSymbol;
      ++i;
      continue;
    }
    if (lead <= 0xFE && i + 1 < bytes.size() && IsGbkTrail(static_cast<unsigned char>(bytes[i + 1]))) {
      const auto trail = static_cast<unsigned char>(bytes[i + 1]);
      const char32_t cp = tables.pairs[PairIndex(lead, trail)];
      cost += cp == 0 ? kAbsurd : CostOfGbkCode(lead, trail, cp);
      i += 2;
      continue;
    }
    cost += kAbsurd;
    ++i;
  }
  return cost;
}

bool HasWideUtf8Lead(std::string_view bytes) {
  for (unsigned char c : bytes) {
    if (c >= 0xE0) return true;
  }
  return false;
}

std::string DecodeUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string units;
  units.reserve(bytes.size() / 2 + 1);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a)));
  }
  if (bytes.size() % 2 != 0) units.push_back(u'\uFFFD');  // a file cut in the middle of a unit
  return Utf16ToUtf8(units);
}

std::string EncodeUtf16(std::string_view utf8, bool bigEndian) {
  const std::u16string units = Utf8ToUtf16(utf8);
  std::string out;
  out.reserve(2 + units.size() * 2);
  out += bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : units) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  }
  return out;
}

}  // namespace

FileEncoding DetectFileEncoding(std::string_view bytes) {
  if (bytes.substr(0, 4) == std::string_view("\xFF\xFE\0\0", 4) || bytes.substr(0, 4) == std::string_view("\0\0\xFE\xFF", 4))
    return FileEncoding::Unknown;
  if (bytes.substr(0, 3) == kUtf8Bom) return FileEncoding::Utf8Bom;
  if (bytes.substr(0, 2) == "\xFF\xFE") return FileEncoding::Utf16Le;
  if (bytes.substr(0, 2) == "\xFE\xFF") return FileEncoding::Utf16Be;
  // Chinese in UTF-8 takes three bytes a character. Two-byte sequences alone
  // (Latin, Greek, Cyrillic) are what GBK often looks like read as UTF-8:
  // 木木 is C4 BE C4 BE in GBK, "ľľ" in UTF-8.
  if (!HasWideUtf8Lead(bytes) || !IsValidUtf8(bytes)) return FileEncoding::Gbk;
  // Valid both ways: a tie stays with the code page the files are kept in.
  return Utf8Cost(bytes) < GbkCost(bytes) ? FileEncoding::Utf8 : FileEncoding::Gbk;
}

std::string DecodeFileText(std::string_view bytes, FileEncoding encoding) {
  switch (encoding) {
    case FileEncoding::Gbk: return GbkToUtf8(bytes);
    case FileEncoding::Utf8: return SanitizeUtf8(bytes);
    case FileEncoding::Utf8Bom:
      if (bytes.substr(0, 3) == kUtf8Bom) bytes.remove_prefix(3);
      return SanitizeUtf8(bytes);
    case FileEncoding::Utf16Le:
    case FileEncoding::Utf16Be:
      if (bytes.substr(0, 2) == (encoding == FileEncoding::Utf16Le ? "\xFF\xFE" : "\xFE\xFF")) bytes.remove_prefix(2);
      return DecodeUtf16(bytes, encoding == FileEncoding::Utf16Be);
    case FileEncoding::Unknown: break;
  }
  return {};
}

std::string EncodeFileText(std::string_view utf8, FileEncoding encoding) {
  switch (encoding) {
    case FileEncoding::Gbk: return Utf8ToGbk(utf8);
    case FileEncoding::Utf8: return std::string(utf8);
    case FileEncoding::Utf8Bom: return std::string(kUtf8Bom) + std::string(utf8);
    case FileEncoding::Utf16Le: return EncodeUtf16(utf8, false);
    case FileEncoding::Utf16Be: return EncodeUtf16(utf8, true);
    case FileEncoding::Unknown: break;
  }
  return {};
}

bool FileEncodingCanHold(std::string_view utf8, FileEncoding encoding) {
  switch (encoding) {
    case FileEncoding::Gbk: return GbkCanHold(utf8);
    case FileEncoding::Unknown: return false;
    default: return IsValidUtf8(utf8);
  }
}

bool LooksLikeUtf8File(std::string_view bytes) {
  const FileEncoding encoding = DetectFileEncoding(bytes);
  return encoding == FileEncoding::Utf8 || encoding == FileEncoding::Utf8Bom;
}

std::string LocalFileText(std::string_view bytes) { return DecodeFileText(bytes, DetectFileEncoding(bytes)); }

}  // namespace qm
