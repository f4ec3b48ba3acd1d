#pragma once
// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes.
#include <filesystem>
#include <string>

namespace qm::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // path() / name as text.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Whole contents of a file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
// Writes bytes to a file, replacing it; false on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace qm::test
