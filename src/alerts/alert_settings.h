#pragma once
// Where a seller's alerts go besides the window: a DingTalk group robot, a
// WeCom group robot, any address that takes a small JSON document, and
// e-mail. Kept in the seller's section of Config.ini, beside the application
// key; the robot's signing secret and the mail password are stored as the
// AppSecret is and are never shown or written to any output.
#include <string>
#include <vector>

namespace qm {

inline constexpr const char* kKeyDingTalkUrl = "钉钉机器人";
inline constexpr const char* kKeyDingTalkSecret = "钉钉加签密钥";
inline constexpr const char* kKeyWeComUrl = "企业微信机器人";
inline constexpr const char* kKeyWebhookUrl = "提醒网址";
// "host:port" or a smtp:// or smtps:// address; port 465 without a scheme is smtps.
inline constexpr const char* kKeyMailServer = "邮件服务器";
inline constexpr const char* kKeyMailUser = "邮件账号";
inline constexpr const char* kKeyMailPassword = "邮件密码";
inline constexpr const char* kKeyMailFrom = "发件人";
// One address or several, separated by commas or semicolons.
inline constexpr const char* kKeyMailTo = "提醒邮箱";
// The hour (0-23, Beijing time) of the daily summary; missing or "" for none.
inline constexpr const char* kKeySummaryHour = "每日汇总时间";

enum class Destination { DingTalk, WeCom, Webhook, Mail };
// "钉钉", "企业微信", "网址", "邮件": the seller's name of each.
const char* DestinationName(Destination destination);
// "dingtalk", "wecom", "webhook", "mail": as stored with each alert's sends.
const char* DestinationKey(Destination destination);

struct AlertSettings {
  std::string dingTalkUrl, dingTalkSecret;
  std::string weComUrl;
  std::string webhookUrl;
  std::string mailServer, mailUser, mailPassword, mailFrom, mailTo;
  int summaryHour = -1;  // -1: no daily summary

  // The destinations that are set, in a fixed order.
  std::vector<Destination> Destinations() const;
  bool operator==(const AlertSettings&) const = default;
};

AlertSettings ReadAlertSettings(const std::string& dir, const std::string& nick);
// Writes every key (an empty value removes it); false when Config.ini was
// not written.
bool WriteAlertSettings(const std::string& dir, const std::string& nick, const AlertSettings& settings);

// A secret as a form gives it (the robot's signing secret, the mail
// password, never shown): what was typed replaces the stored one; an empty
// box keeps it, unless the seller cleared it.
std::string EnteredSecret(const std::string& typed, bool cleared, const std::string& stored);

class AlertOutbox;
// 保存 of the alert settings, the settings window's and the web page's:
// checks them, writes them to the seller's section of Config.ini and hands
// what is stored to `outbox` (may be null), which uses them from now on.
// False, with why in *problem (the seller's words), when they were not all saved.
bool SaveAlertSettings(const std::string& dir, const std::string& nick, const AlertSettings& settings, AlertOutbox* outbox,
                       std::string* problem);

// Why the settings cannot be used; empty when they can. Addresses must be
// http(s) (robots, webhook) and mail addresses plain ones.
std::string AlertSettingsProblem(const AlertSettings& settings);
// The mail recipients, split and trimmed.
std::vector<std::string> MailRecipients(const std::string& list);
// A plain address: no spaces, brackets, quotes, separators or control bytes, one "@".
bool IsPlainMailAddress(const std::string& address);

}  // namespace qm
