#include "rating/keep_list.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/platform_time.h"
#include "rating/post_rating.h"
#include "settings/app_session.h"
#include "settings/profile.h"

namespace qm {
namespace fs = std::filesystem;

namespace {

std::string Folded(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string CurrentPath() {
  const AppSession& s = Session();
  return s.sellerNick.empty() ? std::string() : s.PathOf(KeepListFileName(s.sellerNick));
}

}  // namespace

std::string KeepListFileName(const std::string& nick) { return nick + "的不自动评价.ini"; }


bool KeepList::KeepsBuyer(std::string_view nick) const {
  return !buyers_.empty() && buyers_.count(Folded(nick)) != 0;
}

void KeepList::Refresh() {
  const std::string path = CurrentPath();
  std::error_code ec;
  const fs::path file(std::u8string(path.begin(), path.end()));
  // The file clock's epoch is not the system's: its counts may be negative.
  std::optional<std::int64_t> stamp;
  std::int64_t size = -1;
  if (!path.empty() && fs::is_regular_file(file, ec)) {
    stamp = static_cast<std::int64_t>(fs::last_write_time(file, ec).time_since_epoch().count());
    size = static_cast<std::int64_t>(fs::file_size(file, ec));
  }
  if (!stale_ && path == path_ && stamp == stamp_ && size == size_) return;
  stale_ = false;
  path_ = path;
  stamp_ = stamp;
  size_ = size;
  orders_.clear();
  buyers_.clear();
  if (!stamp) return;
  for (std::string& tid : ProfileKeyNames(path, kKeptOrdersSection)) orders_.insert(std::move(tid));
  for (const std::string& nick : ProfileKeyNames(path, kKeptBuyersSection)) buyers_.insert(Folded(nick));
}

bool KeepList::Edit(const char* section, const std::string& key, bool keep) {
  const std::string path = CurrentPath();
  if (path.empty()) return false;
  const bool ok = keep ? WriteProfileString(path, section, key, FormatPlatformTime(static_cast<std::int64_t>(PlatformNow())))
                       : DeleteProfileKey(path, section, key);
  stale_ = true;  // read again, whatever the clock's resolution
  Refresh();
  return ok;
}

bool KeepList::KeepOrder(const std::string& tid) { return IsOrderNumber(tid) && Edit(kKeptOrdersSection, tid, true); }
bool KeepList::ReleaseOrder(const std::string& tid) { return IsOrderNumber(tid) && Edit(kKeptOrdersSection, tid, false); }
bool KeepList::KeepBuyer(const std::string& nick) { return !nick.empty() && Edit(kKeptBuyersSection, nick, true); }
bool KeepList::ReleaseBuyer(const std::string& nick) { return !nick.empty() && Edit(kKeptBuyersSection, nick, false); }

}  // namespace qm
