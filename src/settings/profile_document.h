#pragma once
// The in-memory form of one profile file, as read from its bytes: the parser
// and editor behind profile.h (which adds the file handling). Unchanged lines
// keep their bytes exactly; only the lines a write touches are rebuilt.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  // Section names in file order, each once, empty ones left out.
  std::vector<std::string> SectionNames() const;

  // The bytes to store.
  std::string Serialize() const;
  bool UsesCrLf() const { return crlf_; }

 private:
  enum class Kind { Other, Section, Entry };
  struct Line {
    std::string raw;   // the bytes of the line, without its line break
    std::string eol;   // "\r\n", "\n" or "" (last line without a break)
    Kind kind = Kind::Other;
    std::string name;  // UTF-8 section or key name (trimmed)
    std::string folded;  // name in ASCII lower case, for comparison
  };

  static Line ParseLine(std::string raw, std::string eol);
  // Index of the first section line named `section`, or npos.
  std::size_t FindSection(std::string_view foldedSection) const;
  // Index of the first entry `key` of the section starting at `start`, or npos.
  std::size_t FindEntry(std::size_t start, std::string_view foldedKey) const;
  std::size_t SectionEnd(std::size_t start) const;
  Line MakeEntry(std::string_view key, std::string_view value) const;
  std::string NewLineBreak() const { return crlf_ ? "\r\n" : "\n"; }

  std::vector<Line> lines_;
  bool crlf_ = true;
};

// True when a section or key name can be stored without breaking the file.
bool IsStorableProfileName(std::string_view name);
// True when a value can be stored without breaking the file.
bool IsStorableProfileValue(std::string_view value);

}  // namespace qm
