#include "alerts/alert_settings.h"

#include <charconv>

#include "alerts/alert_outbox.h"
#include "settings/config.h"
#include "util/text_codec.h"

namespace qm {
namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsWebAddress(const std::string& url) {
  const std::string lower = AsciiLower(url.substr(0, 8));
  if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0) return false;
  for (unsigned char c : url)
    if (c <= 0x20 || c == 0x7F) return false;
  return true;
}

bool Store(const std::string& dir, const std::string& nick, const char* key, const std::string& value) {
  return value.empty() ? RemoveSetting(dir, nick, key) : WriteSetting(dir, nick, key, value);
}

}  // namespace

const char* DestinationName(Destination destination) {
  switch (destination) {
    case Destination::DingTalk: return "钉钉";
    case Destination::WeCom: return "企业微信";
    case Destination::Webhook: return "网址";
    case Destination::Mail: return "邮件";
  }
  return "";
}

const char* DestinationKey(Destination destination) {
  switch (destination) {
    case Destination::DingTalk: return "dingtalk";
    case Destination::WeCom: return "wecom";
    case Destination::Webhook: return "webhook";
    case Destination::Mail: return "mail";
  }
  return "";
}

std::vector<Destination> AlertSettings::Destinations() const {
  std::vector<Destination> set;
  if (!dingTalkUrl.empty()) set.push_back(Destination::DingTalk);
  if (!weComUrl.empty()) set.push_back(Destination::WeCom);
  if (!webhookUrl.empty()) set.push_back(Destination::Webhook);
  if (!mailServer.empty() && !mailTo.empty()) set.push_back(Destination::Mail);
  return set;
}

AlertSettings ReadAlertSettings(const std::string& dir, const std::string& nick) {
  AlertSettings s;
  s.dingTalkUrl = Trimmed(ReadSetting(dir, nick, kKeyDingTalkUrl));
  s.dingTalkSecret = ReadSetting(dir, nick, kKeyDingTalkSecret);
  s.weComUrl = Trimmed(ReadSetting(dir, nick, kKeyWeComUrl));
  s.webhookUrl = Trimmed(ReadSetting(dir, nick, kKeyWebhookUrl));
  s.mailServer = Trimmed(ReadSetting(dir, nick, kKeyMailServer));
  s.mailUser = Trimmed(ReadSetting(dir, nick, kKeyMailUser));
  s.mailPassword = ReadSetting(dir, nick, kKeyMailPassword);
  s.mailFrom = Trimmed(ReadSetting(dir, nick, kKeyMailFrom));
  s.mailTo = Trimmed(ReadSetting(dir, nick, kKeyMailTo));
  const std::string hour = Trimmed(ReadSetting(dir, nick, kKeySummaryHour));
  int value = -1;
  const auto [end, ec] = std::from_chars(hour.data(), hour.data() + hour.size(), value);
  s.summaryHour = !hour.empty() && ec == std::errc() && end == hour.data() + hour.size() && value >= 0 && value < 24
                      ? value
                      : -1;
  return s;
}

bool WriteAlertSettings(const std::string& dir, const std::string& nick, const AlertSettings& s) {
  return Store(dir, nick, kKeyDingTalkUrl, s.dingTalkUrl) && Store(dir, nick, kKeyDingTalkSecret, s.dingTalkSecret) &&
         Store(dir, nick, kKeyWeComUrl, s.weComUrl) && Store(dir, nick, kKeyWebhookUrl, s.webhookUrl) &&
         Store(dir, nick, kKeyMailServer, s.mailServer) && Store(dir, nick, kKeyMailUser, s.mailUser) &&
         Store(dir, nick, kKeyMailPassword, s.mailPassword) && Store(dir, nick, kKeyMailFrom, s.mailFrom) &&
         Store(dir, nick, kKeyMailTo, s.mailTo) &&
         Store(dir, nick, kKeySummaryHour, s.summaryHour >= 0 ? std::to_string(s.summaryHour) : std::string());
}

std::string EnteredSecret(const std::string& typed, bool cleared, const std::string& stored) {
  if (!typed.empty()) return typed;
  return cleared ? std::string() : stored;
}

bool SaveAlertSettings(const std::string& dir, const std::string& nick, const AlertSettings& settings, AlertOutbox* outbox,
                       std::string* problem) {
  if (std::string why = AlertSettingsProblem(settings); !why.empty()) {
    *problem = why + "没有保存。";
    return false;
  }
  const bool written = WriteAlertSettings(dir, nick, settings);
  // Part of them may have been written: the outbox goes by what the file holds.
  if (outbox != nullptr) outbox->ChangeSettings(written ? settings : ReadAlertSettings(dir, nick));
  if (!written) *problem = "提醒设置无法全部写入“" + std::string(kConfigFileName) + "”，请检查文件是否可写。";
  return written;
}

std::vector<std::string> MailRecipients(const std::string& list) {
  std::vector<std::string> out;
  std::string part;
  for (char c : list + ",") {
    if (c == ',' || c == ';') {
      part = Trimmed(part);
      if (!part.empty()) out.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  return out;
}

bool IsPlainMailAddress(const std::string& address) {
  if (address.empty() || address.size() > 254) return false;
  int ats = 0;
  for (unsigned char c : address) {
    if (c <= 0x20 || c == 0x7F || c == '<' || c == '>' || c == ',' || c == ';' || c == '"' || c == '(' || c == ')' ||
        c == '\\' || c == '[' || c == ']' || c == ':')
      return false;
    if (c == '@') ++ats;
  }
  const std::size_t at = address.find('@');
  return ats == 1 && at > 0 && at + 1 < address.size();
}

std::string AlertSettingsProblem(const AlertSettings& s) {
  if (!s.dingTalkUrl.empty() && !IsWebAddress(s.dingTalkUrl)) return "钉钉机器人的地址应以 https:// 开头。";
  if (!s.weComUrl.empty() && !IsWebAddress(s.weComUrl)) return "企业微信机器人的地址应以 https:// 开头。";
  if (!s.webhookUrl.empty() && !IsWebAddress(s.webhookUrl)) return "提醒网址应以 http:// 或 https:// 开头。";
  for (const std::string* text : {&s.dingTalkSecret, &s.mailPassword, &s.mailUser, &s.mailServer, &s.mailFrom, &s.mailTo})
    for (unsigned char c : *text)
      if (c < 0x20 || c == 0x7F) return "提醒设置中含有控制字符。";
  if (!s.mailTo.empty() || !s.mailServer.empty()) {
    if (s.mailServer.empty()) return "请填写邮件服务器。";
    const std::vector<std::string> to = MailRecipients(s.mailTo);
    if (to.empty()) return "请填写提醒邮箱。";
    for (const std::string& address : to)
      if (!IsPlainMailAddress(address)) return "提醒邮箱“" + address + "”不是有效的邮件地址。";
    const std::string from = s.mailFrom.empty() ? s.mailUser : s.mailFrom;
    if (!IsPlainMailAddress(from)) return "请填写有效的发件人地址（或作为邮件账号的地址）。";
  }
  for (const std::string* text : {&s.dingTalkUrl, &s.dingTalkSecret, &s.weComUrl, &s.webhookUrl, &s.mailServer,
                                  &s.mailUser, &s.mailPassword, &s.mailFrom, &s.mailTo})
    if (!GbkCanHold(*text)) return "提醒设置中含有无法保存的字符。";
  return {};
}

}  // namespace qm
