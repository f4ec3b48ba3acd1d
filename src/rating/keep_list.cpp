#include "rating/keep_list.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/platform_time.h"
#include "rating/post_rating.h"
#include "settings/app_session.h"
#include "settings/profile.h"
#include "settings/profile_document.h"
#include "util/file_io.h"

namespace qm {
namespace fs = std::filesystem;

namespace {

std::string Folded(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

std::string KeepListFileName(const std::string& nick) { return nick + "的不自动评价.ini"; }

std::string KeepListPath(const std::string& dir, const std::string& nick) {
  return nick.empty() ? std::string() : PathIn(dir, KeepListFileName(nick));
}


bool KeepList::KeepsBuyer(std::string_view nick) const {
  return !buyers_.empty() && buyers_.count(Folded(nick)) != 0;
}

void KeepList::Refresh() {
  const std::string& path = file_;
  std::error_code ec;
  const fs::path file(std::u8string(path.begin(), path.end()));
  // The file clock's epoch is not the system's: its counts may be negative.
  std::optional<std::int64_t> stamp;
  std::int64_t size = -1;
  const bool there = !path.empty() && fs::exists(fs::symlink_status(file, ec));
  if (there) {
    stamp = static_cast<std::int64_t>(fs::last_write_time(file, ec).time_since_epoch().count());
    size = ec ? -1 : static_cast<std::int64_t>(fs::file_size(file, ec));
  }
  // A list that could not be read is looked at again every time: a change of
  // its owner or mode leaves its time as it was.
  if (!stale_ && problem_.empty() && path == path_ && stamp == stamp_ && size == size_) return;
  stale_ = false;
  path_ = path;
  stamp_ = stamp;
  size_ = size;
  orders_.clear();
  buyers_.clear();
  keptOrders_.clear();
  keptBuyers_.clear();
  problem_.clear();
  if (path.empty()) {
    told_.clear();
    return;
  }
  std::string bytes;
  switch (ReadWholeFile(path, &bytes)) {
    case FileReadStatus::Ok: told_.clear(); break;
    case FileReadStatus::Missing: told_.clear(); return;
    case FileReadStatus::Failed: problem_ = "“" + path + "”无法读取"; return;
    case FileReadStatus::NotRegular: problem_ = "“" + path + "”不是普通文件"; return;
    case FileReadStatus::TooLarge:
      problem_ = "“" + path + "”超过 " + std::to_string(kSettingsFileLimit >> 20) + " MB";
      return;
  }
  const ProfileDocument doc = ProfileDocument::Parse(bytes);
  keptOrders_ = doc.KeyNames(kKeptOrdersSection);
  keptBuyers_ = doc.KeyNames(kKeptBuyersSection);
  orders_.insert(keptOrders_.begin(), keptOrders_.end());
  for (const std::string& nick : keptBuyers_) buyers_.insert(Folded(nick));
}

bool KeepList::Edit(const char* section, const std::string& key, bool keep) {
  const std::string& path = file_;
  if (path.empty()) return false;
  const bool ok = keep ? WriteProfileString(path, section, key, FormatPlatformTime(static_cast<std::int64_t>(clock_.Now())))
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
