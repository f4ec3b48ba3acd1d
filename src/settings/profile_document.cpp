#include "settings/profile_document.h"

#include <algorithm>
#include <unordered_set>

#include "util/text_codec.h"

namespace qm {
namespace {

constexpr std::size_t npos = std::string::npos;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// Its first character (B1 BE in GBK) can never start a UTF-8 character.
constexpr std::string_view kGbkMarker = "; 本文件以 GBK 编码保存";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Blanks are ASCII, and no GBK trail byte is below 0x40, so trimming bytes
// never cuts a character.
std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && IsQuote(s.front()) && s.back() == s.front()) return s.substr(1, s.size() - 2);
  return s;
}

}  // namespace

bool IsStorableProfileName(std::string_view name) {
  const std::string_view trimmed = Trim(name);
  if (trimmed.empty() || trimmed.front() == '[' || trimmed.front() == ';') return false;
  for (char c : trimmed) {
    if (c == ']' || c == '=' || c == '\r' || c == '\n' || c == '\0') return false;
  }
  return IsValidUtf8(trimmed);
}

bool IsStorableProfileValue(std::string_view value) {
  for (char c : value) {
    if (c == '\r' || c == '\n' || c == '\0') return false;
  }
  return IsValidUtf8(value);
}

std::size_t ProfileDocument::CharLength(std::string_view raw, std::size_t i) const {
  if (encoding_ != Encoding::Gbk) return 1;  // UTF-8: ASCII bytes never sit inside a character
  const auto lead = static_cast<unsigned char>(raw[i]);
  if (lead < 0x81 || lead == 0xFF || i + 1 >= raw.size()) return 1;
  const auto trail = static_cast<unsigned char>(raw[i + 1]);
  return (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) ? 2 : 1;
}

std::string ProfileDocument::Decode(std::string_view bytes) const {
  return encoding_ == Encoding::Gbk ? GbkToUtf8(bytes) : SanitizeUtf8(bytes);
}

std::string ProfileDocument::Encode(std::string_view utf8) const {
  return encoding_ == Encoding::Gbk ? Utf8ToGbk(utf8) : std::string(utf8);
}

bool ProfileDocument::CanStore(std::string_view text) const {
  if (readOnly_) return false;
  switch (encoding_) {
    case Encoding::Gbk:
      return GbkCanHold(text);
    case Encoding::Utf8:
      return IsValidUtf8(text);
    case Encoding::Foreign:
      break;
  }
  return false;
}

ProfileDocument::Line ProfileDocument::ParseLine(std::string raw, std::string eol) const {
  Line line;
  line.raw = std::move(raw);
  line.eol = std::move(eol);
  if (encoding_ == Encoding::Foreign) return line;
  const std::string_view text = Trim(line.raw);
  if (text.empty() || text.front() == ';') return line;
  if (text.front() == '[') {
    // The name runs to the last ']' of the line; text after it is ignored.
    std::size_t close = npos;
    for (std::size_t i = 1; i < text.size(); i += CharLength(text, i)) {
      if (text[i] == ']') close = i;
    }
    if (close == npos) return line;
    line.kind = Kind::Section;
    line.name = Decode(Trim(text.substr(1, close - 1)));
  } else {
    std::size_t eq = npos;
    for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) {
      if (text[i] == '=') {
        eq = i;
        break;
      }
    }
    if (eq == npos) return line;
    const std::string_view key = Trim(text.substr(0, eq));
    if (key.empty()) return line;
    line.kind = Kind::Entry;
    line.name = Decode(key);
  }
  line.folded = AsciiLower(line.name);
  return line;
}

ProfileDocument ProfileDocument::Parse(std::string_view bytes) {
  ProfileDocument doc;
  doc.file_ = DetectFileEncoding(bytes);
  std::string utf16Text;
  switch (doc.file_) {
    case FileEncoding::Gbk: break;
    case FileEncoding::Utf8Bom:
      doc.encoding_ = Encoding::Utf8;
      doc.bom_ = std::string(kUtf8Bom);
      bytes.remove_prefix(3);
      break;
    case FileEncoding::Utf8:  // saved by hand in a UTF-8 editor; written back the same way, without a mark
      doc.encoding_ = Encoding::Utf8;
      break;
    case FileEncoding::Utf16Le:
    case FileEncoding::Utf16Be:
      doc.encoding_ = Encoding::Utf8;
      utf16Text = DecodeFileText(bytes, doc.file_);
      if (EncodeFileText(utf16Text, doc.file_) != bytes) doc.readOnly_ = std::string(bytes);
      bytes = utf16Text;
      break;
    case FileEncoding::Unknown: doc.encoding_ = Encoding::Foreign; break;
  }
  bool sawBreak = false;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t nl = bytes.find('\n', pos);
    std::string raw, eol;
    if (nl == npos) {
      raw = std::string(bytes.substr(pos));
      pos = bytes.size();
    } else {
      std::size_t end = nl;
      if (end > pos && bytes[end - 1] == '\r') {
        --end;
        eol = "\r\n";
      } else {
        eol = "\n";
      }
      raw = std::string(bytes.substr(pos, end - pos));
      pos = nl + 1;
      if (!sawBreak) {
        doc.crlf_ = eol == "\r\n";
        sawBreak = true;
      }
    }
    doc.lines_.push_back(doc.ParseLine(std::move(raw), std::move(eol)));
  }
  return doc;
}

std::size_t ProfileDocument::FindSection(std::string_view foldedSection) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::Section && lines_[i].folded == foldedSection) return i;
  }
  return npos;
}

std::size_t ProfileDocument::SectionEnd(std::size_t start) const {
  for (std::size_t i = start + 1; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::Section) return i;
  }
  return lines_.size();
}

std::size_t ProfileDocument::FindEntry(std::size_t start, std::string_view foldedKey) const {
  const std::size_t end = SectionEnd(start);
  for (std::size_t i = start + 1; i < end; ++i) {
    if (lines_[i].kind == Kind::Entry && lines_[i].folded == foldedKey) return i;
  }
  return npos;
}

std::string_view ProfileDocument::RawValue(const Line& line) const {
  std::string_view text = line.raw;
  for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) {
    if (text[i] == '=') return Unquote(Trim(text.substr(i + 1)));
  }
  return {};
}

std::optional<std::string> ProfileDocument::Get(std::string_view section, std::string_view key,
                                                std::size_t limit) const {
  const std::string foldedSection = AsciiLower(Trim(section));
  const std::string foldedKey = AsciiLower(Trim(key));
  if (foldedSection.empty() || foldedKey.empty()) return std::nullopt;
  const std::size_t s = FindSection(foldedSection);
  if (s == npos) return std::nullopt;
  const std::size_t e = FindEntry(s, foldedKey);
  if (e == npos) return std::nullopt;
  std::string_view value = RawValue(lines_[e]);
  if (value.size() > limit) {
    std::size_t cut = 0;
    if (encoding_ == Encoding::Gbk) {
      while (cut < value.size()) {
        const std::size_t n = CharLength(value, cut);
        if (cut + n > limit) break;
        cut += n;
      }
    } else {
      cut = limit;
      while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
    }
    value = value.substr(0, cut);
  }
  return Decode(value);
}

ProfileDocument::Line ProfileDocument::MakeEntry(std::string_view key, std::string_view value) const {
  // A value that a read would trim or unquote is stored in quotes, so it
  // reads back exactly as written.
  std::string stored(value);
  if (!value.empty() &&
      (IsBlank(value.front()) || IsBlank(value.back()) || Unquote(value).size() != value.size())) {
    stored.insert(stored.begin(), '"');
    stored.push_back('"');
  }
  std::string raw = Encode(Trim(key));
  raw.push_back('=');
  raw.append(Encode(stored));
  return ParseLine(std::move(raw), NewLineBreak());
}

void ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view sectionName = Trim(section);
  const std::size_t s = FindSection(AsciiLower(sectionName));
  if (s == npos) {
    if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = NewLineBreak();
    std::string header(1, '[');
    header.append(Encode(sectionName));
    header.push_back(']');
    lines_.push_back(ParseLine(std::move(header), NewLineBreak()));
    lines_.push_back(MakeEntry(key, value));
    return;
  }
  const std::size_t e = FindEntry(s, AsciiLower(Trim(key)));
  if (e != npos) {
    Line entry = MakeEntry(key, value);
    entry.eol = lines_[e].eol;
    lines_[e] = std::move(entry);
    return;
  }
  // After the last entry of the section (or its header), so blank lines and
  // comments that lead into the next section stay in front of it.
  std::size_t after = s;
  const std::size_t end = SectionEnd(s);
  for (std::size_t i = s + 1; i < end; ++i) {
    if (lines_[i].kind == Kind::Entry) after = i;
  }
  if (lines_[after].eol.empty()) lines_[after].eol = NewLineBreak();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(after + 1), MakeEntry(key, value));
}

bool ProfileDocument::Remove(std::string_view section, std::string_view key) {
  const std::size_t s = FindSection(AsciiLower(Trim(section)));
  if (s == npos) return false;
  const std::size_t e = FindEntry(s, AsciiLower(Trim(key)));
  if (e == npos) return false;
  // A last line without a break hands its (missing) break to the line before.
  if (e + 1 == lines_.size() && lines_[e].eol.empty()) lines_[e - 1].eol.clear();
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(e));
  return true;
}

std::size_t ProfileDocument::RemoveSection(std::string_view section) {
  const std::string folded = AsciiLower(Trim(section));
  if (folded.empty()) return 0;
  std::size_t removed = 0;
  for (std::size_t s = FindSection(folded); s != npos; s = FindSection(folded)) {
    // The header, its entries and what lies between them; then the blank
    // lines that parted it from what follows.
    std::size_t end = s + 1;
    const std::size_t next = SectionEnd(s);
    for (std::size_t i = s + 1; i < next; ++i) {
      if (lines_[i].kind == Kind::Entry) end = i + 1;
    }
    while (end < next && Trim(lines_[end].raw).empty()) ++end;
    // A last line without a break hands its (missing) break to the line before.
    if (end == lines_.size() && s > 0 && lines_[end - 1].eol.empty()) lines_[s - 1].eol.clear();
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(s), lines_.begin() + static_cast<std::ptrdiff_t>(end));
    ++removed;
  }
  return removed;
}

std::vector<std::string> ProfileDocument::SectionNames() const {
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  for (const Line& line : lines_) {
    if (line.kind != Kind::Section || line.name.empty()) continue;
    if (seen.insert(line.folded).second) names.push_back(line.name);
  }
  return names;
}

std::vector<std::string> ProfileDocument::KeyNames(std::string_view section) const {
  std::vector<std::string> names;
  const std::size_t s = FindSection(AsciiLower(Trim(section)));
  if (s == npos) return names;
  std::unordered_set<std::string> seen;
  const std::size_t end = SectionEnd(s);
  for (std::size_t i = s + 1; i < end; ++i) {
    if (lines_[i].kind == Kind::Entry && !lines_[i].name.empty() && seen.insert(lines_[i].folded).second) {
      names.push_back(lines_[i].name);
    }
  }
  return names;
}

std::string ProfileDocument::Serialize() const {
  if (readOnly_) return *readOnly_;
  std::string out = bom_;
  for (const Line& line : lines_) {
    out += line.raw;
    out += line.eol;
  }
  // GBK text whose bytes all happen to be valid UTF-8 (a short Chinese name
  // can be) would read back as UTF-8 and every name in it would change. A
  // comment line that is GBK and never UTF-8 keeps the file GBK. An unedited
  // file never needs it: it was read as GBK because its bytes are not UTF-8.
  if (encoding_ == Encoding::Gbk && LooksLikeUtf8File(out)) {
    out.insert(0, Utf8ToGbk(kGbkMarker) + NewLineBreak());
  }
  if (file_ == FileEncoding::Utf16Le || file_ == FileEncoding::Utf16Be) return EncodeFileText(out, file_);
  // Likewise a UTF-8 file without a mark whose edited text would read back as
  // GBK gains the mark.
  if (file_ == FileEncoding::Utf8 && !LooksLikeUtf8File(out) && !IsAscii(out)) out.insert(0, kUtf8Bom);
  return out;
}

}  // namespace qm
