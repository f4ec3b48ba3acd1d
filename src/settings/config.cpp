#include "settings/config.h"

#include <charconv>

#include "settings/app_session.h"
#include "settings/profile.h"
#include "util/text_codec.h"

namespace qm {

std::string ConfigPath() { return Session().PathOf(kConfigFileName); }

std::vector<std::string> AccountNames() { return ProfileSectionNames(ConfigPath()); }

std::string AccountSectionName(const std::string& nick) {
  const std::string folded = AsciiLower(nick);
  for (const std::string& name : AccountNames())
    if (AsciiLower(name) == folded) return name;
  return nick;
}

std::string ReadAppKey(const std::string& nick) { return ReadProfileString(ConfigPath(), nick, kKeyAppKey); }
std::string ReadAppSecret(const std::string& nick) {
  return ReadProfileString(ConfigPath(), nick, kKeyAppSecret);
}
std::string ReadSessionKey(const std::string& nick) {
  return ReadProfileString(ConfigPath(), nick, kKeySessionKey);
}
int ReadReloadMinutes(const std::string& nick) {
  const std::string text = ReadProfileString(ConfigPath(), nick, kKeyReloadMinutes);
  int minutes = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), minutes);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || minutes < 0 || minutes > 525600) {
    return kDefaultReloadMinutes;
  }
  return minutes;
}

bool BadRatingAlertsOn(const std::string& nick) {
  return ReadProfileString(ConfigPath(), nick, kKeyBadRatingAlerts) != "0";
}

bool AnswerBadFirst(const std::string& nick) {
  return ReadProfileString(ConfigPath(), nick, kKeyAnswerStyle) == kAnswerBadFirst;
}

std::string ReadRatingHoursSetting(const std::string& nick) {
  return ReadProfileString(ConfigPath(), nick, kKeyRatingHours);
}

bool WriteAppKey(const std::string& nick, const std::string& value) {
  return WriteProfileString(ConfigPath(), nick, kKeyAppKey, value);
}
bool WriteAppSecret(const std::string& nick, const std::string& value) {
  return WriteProfileString(ConfigPath(), nick, kKeyAppSecret, value);
}
bool WriteSessionKey(const std::string& nick, const std::string& value) {
  return WriteProfileString(ConfigPath(), nick, kKeySessionKey, value);
}
bool WriteRatingHoursSetting(const std::string& nick, const std::string& value) {
  return WriteProfileString(ConfigPath(), nick, kKeyRatingHours, value);
}

std::string ReadSetting(const std::string& nick, const std::string& key) {
  return ReadProfileString(ConfigPath(), nick, key);
}
bool WriteSetting(const std::string& nick, const std::string& key, const std::string& value) {
  return WriteProfileString(ConfigPath(), nick, key, value);
}
bool RemoveSetting(const std::string& nick, const std::string& key) { return DeleteProfileKey(ConfigPath(), nick, key); }

}  // namespace qm
