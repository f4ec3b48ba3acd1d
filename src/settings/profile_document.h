#pragma once
// The in-memory form of one profile file, as read from its bytes: the parser
// and editor behind profile.h (which adds the file handling). Unchanged lines
// keep their bytes exactly; only the lines a write touches are rebuilt.
//
// The bytes are GBK unless DetectFileEncoding (util/file_text.h) tells
// otherwise: a file saved as UTF-8, with a mark or without one, or as UTF-16
// with a mark (Notepad's "Unicode"), is read and written back in the encoding
// it was saved in, keeping its mark or its lack of one. A UTF-16 file that
// would not come back byte for byte (cut in half a character, a lone
// surrogate) reads but is never rewritten, and a file with a UTF-32 mark is
// not understood: it reads as empty and CanStore refuses every write.
//
// The scan for "[", "]", ";" and "=" steps over whole GBK characters, so a
// trail byte that happens to be 0x5D (']') does not end a section name. Names
// in lookups are trimmed like the names in the file.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/file_text.h"

namespace qm {

class ProfileDocument {
 public:
  // Parses the file's bytes (GBK). Never fails: lines it cannot read are kept
  // as they are and take no part in lookups.
  static ProfileDocument Parse(std::string_view bytes);

  // The value (UTF-8) of the key, nullopt when the section or key is missing.
  // At most `limit` bytes of the GBK value are used (never half a character).
  std::optional<std::string> Get(std::string_view section, std::string_view key,
                                 std::size_t limit) const;
  // Sets the key, adding section and key when missing. The caller has checked the names.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  // Removes the key; false when it was not there.
  bool Remove(std::string_view section, std::string_view key);
  // Removes every section of that name with its entries; the blank lines and
  // comments that lead into the next section stay. The number removed.
  std::size_t RemoveSection(std::string_view section);
  // Section names in file order, each once, empty ones left out.
  std::vector<std::string> SectionNames() const;
  // The key names of the first matching section in file order, each once.
  std::vector<std::string> KeyNames(std::string_view section) const;

  // The bytes to store. A GBK file that would read back as UTF-8 gains a
  // comment line at its top that keeps it GBK.
  std::string Serialize() const;
  bool UsesCrLf() const { return crlf_; }

  // True when `text` (UTF-8) can be stored in this file's encoding exactly: a
  // GBK file cannot hold characters outside code page 936, and a file in an
  // encoding this layer does not write holds nothing.
  bool CanStore(std::string_view text) const;
  // Bytes `text` (UTF-8) takes in this file's encoding.
  std::size_t StoredLength(std::string_view text) const { return Encode(text).size(); }

 private:
  enum class Kind { Other, Section, Entry };
  enum class Encoding { Gbk, Utf8, Foreign };
  struct Line {
    std::string raw;   // the bytes of the line, without its line break
    std::string eol;   // "\r\n", "\n" or "" (last line without a break)
    Kind kind = Kind::Other;
    std::string name;  // UTF-8 section or key name (trimmed)
    std::string folded;  // name in ASCII lower case, for comparison
  };

  Line ParseLine(std::string raw, std::string eol) const;
  // Bytes of the character starting at raw[i] (1 or 2 in GBK).
  std::size_t CharLength(std::string_view raw, std::size_t i) const;
  std::string Decode(std::string_view bytes) const;
  std::string Encode(std::string_view utf8) const;
  // The value part of an entry line (trimmed, one pair of quotes dropped), in file bytes.
  std::string_view RawValue(const Line& line) const;
  // Index of the first section line named `section`, or npos.
  std::size_t FindSection(std::string_view foldedSection) const;
  // Index of the first entry `key` of the section starting at `start`, or npos.
  std::size_t FindEntry(std::size_t start, std::string_view foldedKey) const;
  std::size_t SectionEnd(std::size_t start) const;
  Line MakeEntry(std::string_view key, std::string_view value) const;
  std::string NewLineBreak() const { return crlf_ ? "\r\n" : "\n"; }

  std::vector<Line> lines_;
  bool crlf_ = true;
  Encoding encoding_ = Encoding::Gbk;
  std::string bom_;  // the UTF-8 byte order mark the file starts with, if any
  // The encoding of the file's bytes; the lines of a UTF-16 file are held as UTF-8.
  FileEncoding file_ = FileEncoding::Gbk;
  // The bytes of a file that can be read but not written back as they came.
  std::optional<std::string> readOnly_;
};

// True when a section or key name can be stored without breaking the file.
bool IsStorableProfileName(std::string_view name);
// True when a value can be stored without breaking the file.
bool IsStorableProfileValue(std::string_view value);

}  // namespace qm
