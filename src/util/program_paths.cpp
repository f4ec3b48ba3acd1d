#include "util/program_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace qm {
namespace {

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    return WithoutTrailingSeparator(home);
  }
  // Services and su sessions may run without HOME; the user database still knows.
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr || found->pw_dir[0] != '/') {
    return {};
  }
  return WithoutTrailingSeparator(found->pw_dir);
}

}  // namespace

std::string ExecutableDir() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return {};
  return exe.parent_path().string();
}

std::string UserDataHome() {
  // A relative XDG_DATA_HOME is to be ignored, as the base directory rules say.
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
    return WithoutTrailingSeparator(xdg);
  }
  const std::string home = HomeDir();
  if (home.empty()) return {};
  return (home == "/" ? "" : home) + "/.local/share";
}

}  // namespace qm
