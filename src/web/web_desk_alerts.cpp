// The web page's 提醒设置: where the alerts go, saved as the desktop's window
// saves them, and its 测试提醒. The page never receives a stored secret, only
// whether one is set; an empty secret box keeps it, a clear removes it.
#include <nlohmann/json.hpp>

#include <optional>

#include "alerts/alert_outbox.h"
#include "alerts/alert_settings.h"
#include "rating/seller_run.h"
#include "util/text_codec.h"
#include "web/web_desk.h"

namespace qm {
namespace {

using json = nlohmann::json;

constexpr const char* kBadForm = "提醒设置的格式不对，没有保存。";

std::string Safe(const std::string& text) { return IsValidUtf8(text) ? text : SanitizeUtf8(text); }

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The settings the page sent, with the stored secrets where its boxes were
// left empty; nullopt when they are not in the page's form.
std::optional<AlertSettings> AlertSettingsFrom(const std::string& argsText, const AlertSettings& stored) {
  const json in = json::parse(argsText, nullptr, false);
  if (!in.is_object()) return std::nullopt;
  AlertSettings s;
  try {
    auto text = [&in](const char* key) { return Trimmed(in.at(key).get<std::string>()); };
    s.dingTalkUrl = text("dingTalkUrl");
    s.weComUrl = text("weComUrl");
    s.webhookUrl = text("webhookUrl");
    s.mailServer = text("mailServer");
    s.mailUser = text("mailUser");
    s.mailFrom = text("mailFrom");
    s.mailTo = text("mailTo");
    s.summaryHour = in.at("summaryHour").get<int>();
    if (s.summaryHour < -1 || s.summaryHour > 23) return std::nullopt;
    // A secret may hold spaces at its ends; it is taken as typed.
    s.dingTalkSecret = EnteredSecret(in.value("dingTalkSecret", std::string()),
                                     in.value("clearDingTalkSecret", false), stored.dingTalkSecret);
    s.mailPassword = EnteredSecret(in.value("mailPassword", std::string()), in.value("clearMailPassword", false),
                                   stored.mailPassword);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return s;
}

}  // namespace

std::string WebDesk::AlertSettingsJson() {
  const Account account = run_.RunAccount();
  const AlertSettings s = ReadAlertSettings(account.dataDir, account.sellerNick);
  const json out = {{"dingTalkUrl", Safe(s.dingTalkUrl)},
                    {"dingTalkSecretSet", !s.dingTalkSecret.empty()},
                    {"weComUrl", Safe(s.weComUrl)},
                    {"webhookUrl", Safe(s.webhookUrl)},
                    {"mailServer", Safe(s.mailServer)},
                    {"mailUser", Safe(s.mailUser)},
                    {"mailPasswordSet", !s.mailPassword.empty()},
                    {"mailFrom", Safe(s.mailFrom)},
                    {"mailTo", Safe(s.mailTo)},
                    {"summaryHour", s.summaryHour}};
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

void WebDesk::SaveAlerts(const std::string& args, const Reply& reply) {
  const Account account = run_.RunAccount();
  const std::string& nick = account.sellerNick;
  const std::optional<AlertSettings> s = AlertSettingsFrom(args, ReadAlertSettings(account.dataDir, nick));
  if (!s) return reply(Started(false, kBadForm));
  std::string problem;
  const bool ok = SaveAlertSettings(account.dataDir, nick, *s, outbox_, &problem);
  reply(Started(ok, ok ? "提醒设置已保存。" : problem));
}

void WebDesk::TestAlerts(const std::string& args, const Reply& reply) {
  const Account account = run_.RunAccount();
  const std::string& nick = account.sellerNick;
  const std::optional<AlertSettings> s = AlertSettingsFrom(args, ReadAlertSettings(account.dataDir, nick));
  if (!s) return reply(Started(false, "提醒设置的格式不对。"));
  if (const std::string problem = TestAlertProblem(*s); !problem.empty()) return reply(Started(false, problem));
  if (testing_) return reply(Started(false, "测试提醒正在发送，请稍候。"));
  if (test_.joinable()) test_.join();
  testing_ = true;
  // Off the runner's thread: the run goes on while the places answer.
  test_ = std::thread([this, settings = *s, shop = nick, now = run_.Clock().Now(), reply] {
    const auto outcomes = SendTestAlerts(settings, shop, now);
    bool all = true;
    for (const auto& [destination, outcome] : outcomes) all = all && outcome.delivered;
    testing_ = false;
    reply(Started(all, TestAlertText(outcomes)));
  });
}

}  // namespace qm
