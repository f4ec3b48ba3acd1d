#include "settings/config.h"

#include <charconv>
#include <cstdint>

#include "settings/app_session.h"
#include "settings/profile.h"
#include "util/text_codec.h"

namespace qm {

std::string ConfigPath(const std::string& dir) { return PathIn(dir, kConfigFileName); }

std::vector<std::string> AccountNames(const std::string& dir) { return ProfileSectionNames(ConfigPath(dir)); }

std::string AccountSectionName(const std::string& dir, const std::string& nick) {
  const std::string folded = AsciiLower(nick);
  for (const std::string& name : AccountNames(dir))
    if (AsciiLower(name) == folded) return name;
  return nick;
}

std::string ReadAppKey(const std::string& dir, const std::string& nick) { return ReadProfileString(ConfigPath(dir), nick, kKeyAppKey); }
std::string ReadAppSecret(const std::string& dir, const std::string& nick) {
  return ReadProfileString(ConfigPath(dir), nick, kKeyAppSecret);
}
std::string ReadSessionKey(const std::string& dir, const std::string& nick) {
  return ReadProfileString(ConfigPath(dir), nick, kKeySessionKey);
}
int ReadReloadMinutes(const std::string& dir, const std::string& nick) {
  const std::string text = ReadProfileString(ConfigPath(dir), nick, kKeyReloadMinutes);
  int minutes = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), minutes);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || minutes < 0 || minutes > 525600) {
    return kDefaultReloadMinutes;
  }
  return minutes;
}

bool BadRatingAlertsOn(const std::string& dir, const std::string& nick) {
  return ReadProfileString(ConfigPath(dir), nick, kKeyBadRatingAlerts) != "0";
}

bool AnswerBadFirst(const std::string& dir, const std::string& nick) {
  return ReadProfileString(ConfigPath(dir), nick, kKeyAnswerStyle) == kAnswerBadFirst;
}

std::string ReadRatingHoursSetting(const std::string& dir, const std::string& nick) {
  return ReadProfileString(ConfigPath(dir), nick, kKeyRatingHours);
}

bool AccountIsSetUp(const std::string& dir, const std::string& nick) { return !ReadAppKey(dir, nick).empty() && !ReadAppSecret(dir, nick).empty(); }

namespace {
// The account's login order; 0 when it has none or an unreadable one.
std::uint64_t LoginOrder(const std::string& dir, const std::string& nick) {
  const std::string text = ReadProfileString(ConfigPath(dir), nick, kKeyLoginOrder);
  std::uint64_t order = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), order);
  return ec == std::errc() && end == text.data() + text.size() ? order : 0;
}
}  // namespace

bool MarkAccountUsed(const std::string& dir, const std::string& nick) {
  if (!AccountIsSetUp(dir, nick)) return false;
  const std::string folded = AsciiLower(nick);
  std::uint64_t own = 0, highestOther = 0;
  for (const std::string& name : AccountNames(dir)) {
    const std::uint64_t order = LoginOrder(dir, name);
    if (AsciiLower(name) == folded) {
      own = order;
    } else if (order > highestOther) {
      highestOther = order;
    }
  }
  if (own > highestOther) return true;  // already the last used
  // A count at the top of its range (only by hand) can but tie: it never wraps below the others.
  const std::uint64_t next = highestOther < UINT64_MAX ? highestOther + 1 : highestOther;
  return WriteProfileString(ConfigPath(dir), nick, kKeyLoginOrder, std::to_string(next));
}

std::string LastUsedAccount(const std::string& dir) {
  std::string last;
  std::uint64_t highest = 0;
  for (const std::string& name : AccountNames(dir)) {
    // Ties go to the first in the file, as lookups do.
    if (const std::uint64_t order = LoginOrder(dir, name); order > highest) {
      highest = order;
      last = name;
    }
  }
  return last;
}

bool RemoveAccountSection(const std::string& dir, const std::string& nick) { return DeleteProfileSection(ConfigPath(dir), nick); }

bool WriteAppKey(const std::string& dir, const std::string& nick, const std::string& value) {
  return WriteProfileString(ConfigPath(dir), nick, kKeyAppKey, value);
}
bool WriteAppSecret(const std::string& dir, const std::string& nick, const std::string& value) {
  return WriteProfileString(ConfigPath(dir), nick, kKeyAppSecret, value);
}
bool WriteSessionKey(const std::string& dir, const std::string& nick, const std::string& value) {
  return WriteProfileString(ConfigPath(dir), nick, kKeySessionKey, value);
}
bool WriteRatingHoursSetting(const std::string& dir, const std::string& nick, const std::string& value) {
  return WriteProfileString(ConfigPath(dir), nick, kKeyRatingHours, value);
}

std::string ReadSetting(const std::string& dir, const std::string& nick, const std::string& key) {
  return ReadProfileString(ConfigPath(dir), nick, key);
}
bool WriteSetting(const std::string& dir, const std::string& nick, const std::string& key, const std::string& value) {
  return WriteProfileString(ConfigPath(dir), nick, key, value);
}
bool RemoveSetting(const std::string& dir, const std::string& nick, const std::string& key) { return DeleteProfileKey(ConfigPath(dir), nick, key); }

}  // namespace qm
