#include "settings/profile.h"

#include "settings/profile_document.h"
#include "util/file_guard.h"
#include "util/file_io.h"

namespace qm {
namespace {

// Loads the document; false when the file exists but cannot be read or is
// refused (over the size limit, not a regular file): such a file is never
// taken for an empty one, which a write would then replace.
bool Load(const std::string& file, std::string* bytes, ProfileDocument* doc) {
  const FileReadStatus status = ReadWholeFile(file, bytes);
  if (status != FileReadStatus::Ok && status != FileReadStatus::Missing) return false;
  *doc = ProfileDocument::Parse(*bytes);
  return true;
}

}  // namespace

std::string ReadProfileString(const std::string& file, std::string_view section, std::string_view key) {
  if (file.empty() || section.empty() || key.empty()) return {};
  std::string bytes;
  ProfileDocument doc;
  if (!Load(file, &bytes, &doc)) return {};
  return doc.Get(section, key, kProfileValueLimit).value_or(std::string());
}

bool WriteProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value) {
  if (file.empty() || !IsStorableProfileName(section) || !IsStorableProfileName(key) ||
      !IsStorableProfileValue(value)) {
    return false;
  }
  // Other processes and threads edit the same files (a second run's --keep,
  // the desktop, the web page): the edit lock keeps each read-modify-write
  // whole. A read needs none: a file is only ever replaced whole.
  const FileEditLock edit(file);
  if (!edit.Held()) return false;
  std::string bytes;
  ProfileDocument doc;
  if (!Load(file, &bytes, &doc)) return false;
  if (!doc.CanStore(section) || !doc.CanStore(key) || !doc.CanStore(value)) return false;
  doc.Set(section, key, value);
  std::string updated = doc.Serialize();
  if (updated == bytes && !bytes.empty()) return true;  // already as asked
  return ReplaceFileAtomically(file, updated);
}

bool DeleteProfileKey(const std::string& file, std::string_view section, std::string_view key) {
  if (file.empty() || section.empty() || key.empty()) return false;
  const FileEditLock edit(file);
  if (!edit.Held()) return false;
  std::string bytes;
  ProfileDocument doc;
  const FileReadStatus status = ReadWholeFile(file, &bytes);
  if (status == FileReadStatus::Missing) return true;
  if (status != FileReadStatus::Ok) return false;
  doc = ProfileDocument::Parse(bytes);
  if (!doc.Remove(section, key)) return true;
  return ReplaceFileAtomically(file, doc.Serialize());
}

bool DeleteProfileSection(const std::string& file, std::string_view section) {
  if (file.empty() || section.empty()) return false;
  const FileEditLock edit(file);
  if (!edit.Held()) return false;
  std::string bytes;
  const FileReadStatus status = ReadWholeFile(file, &bytes);
  if (status == FileReadStatus::Missing) return true;
  if (status != FileReadStatus::Ok) return false;
  ProfileDocument doc = ProfileDocument::Parse(bytes);
  if (doc.RemoveSection(section) == 0) return true;
  return ReplaceFileAtomically(file, doc.Serialize());
}

std::vector<std::string> ProfileKeyNames(const std::string& file, std::string_view section) {
  if (file.empty()) return {};
  std::string bytes;
  ProfileDocument doc;
  if (!Load(file, &bytes, &doc)) return {};
  return doc.KeyNames(section);
}

std::vector<std::string> ProfileSectionNames(const std::string& file) {
  if (file.empty()) return {};
  std::string bytes;
  ProfileDocument doc;
  {
      if (!Load(file, &bytes, &doc)) return {};
  }
  std::vector<std::string> names = doc.SectionNames();
  // The names as the system hands them over: each with a terminating zero in
  // the file's encoding, then a final zero, in a buffer of fixed size.
  std::size_t used = 1;
  std::size_t kept = 0;
  for (; kept < names.size(); ++kept) {
    const std::size_t need = doc.StoredLength(names[kept]) + 1;
    if (used + need > kProfileSectionListLimit) break;
    used += need;
  }
  names.resize(kept);
  return names;
}

}  // namespace qm
