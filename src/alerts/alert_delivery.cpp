#include "alerts/alert_delivery.h"

#include <curl/curl.h>

#include <chrono>
#include <mutex>

#include "util/libraries.h"
#include "util/stop.h"
#include "util/text_codec.h"

namespace qm {
namespace {

constexpr std::size_t kMostReplyBytes = 64 * 1024;

struct Exchange {
  std::string reply;
  const std::atomic<bool>* cancel = nullptr;
  std::string upload;
  std::size_t sent = 0;
};

std::size_t OnReply(char* data, std::size_t size, std::size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const std::size_t length = size * count;
  if (exchange->reply.size() < kMostReplyBytes) exchange->reply.append(data, length);
  return length;
}

std::size_t OnUpload(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const std::size_t n = std::min(size * count, exchange->upload.size() - exchange->sent);
  exchange->upload.copy(buffer, n, exchange->sent);
  exchange->sent += n;
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* exchange = static_cast<Exchange*>(user);
  return StopRequested() || (exchange->cancel != nullptr && exchange->cancel->load()) ? 1 : 0;
}

CURL* NewHandle(Exchange& exchange, int timeoutSeconds) {
  PrepareLibraries();
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return nullptr;
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(timeoutSeconds));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(std::min(timeoutSeconds, 10)));
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &exchange);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnReply);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Quillmere/1.0");
  return curl;
}

// The reply's "errcode" as a number; -1 when it has none.
long ErrCode(const std::string& reply) {
  const std::size_t key = reply.find("\"errcode\"");
  if (key == std::string::npos) return -1;
  std::size_t i = reply.find(':', key);
  if (i == std::string::npos) return -1;
  ++i;
  while (i < reply.size() && (reply[i] == ' ' || reply[i] == '\t')) ++i;
  long value = 0;
  bool digits = false, negative = i < reply.size() && reply[i] == '-';
  if (negative) ++i;
  while (i < reply.size() && reply[i] >= '0' && reply[i] <= '9' && value < 100000000) {
    value = value * 10 + (reply[i++] - '0');
    digits = true;
  }
  return digits ? (negative ? -value : value) : -1;
}

// The robot's own words on a refusal, short and plain.
std::string ErrMsg(const std::string& reply) {
  const std::size_t key = reply.find("\"errmsg\"");
  if (key == std::string::npos) return {};
  const std::size_t open = reply.find('"', reply.find(':', key));
  if (open == std::string::npos) return {};
  const std::size_t close = reply.find('"', open + 1);
  return NeutralisedLine(reply.substr(open + 1, close == std::string::npos ? 0 : close - open - 1), 80);
}

std::string CurlWhy(CURLcode code) {
  if (code == CURLE_OPERATION_TIMEDOUT) return "没有在时限内回应";
  if (code == CURLE_COULDNT_CONNECT) return "无法连接";
  if (code == CURLE_COULDNT_RESOLVE_HOST) return "找不到服务器";
  if (code == CURLE_ABORTED_BY_CALLBACK) return "已停止";
  if (code == CURLE_LOGIN_DENIED) return "账号或密码被拒绝";
  if (code == CURLE_USE_SSL_FAILED) return "服务器不支持加密连接";
  return std::string("发送失败（") + curl_easy_strerror(code) + "）";
}

DeliveryOutcome PostJson(const std::string& url, const std::string& body, bool robot, int timeoutSeconds,
                         const std::atomic<bool>* cancel) {
  Exchange exchange;
  exchange.cancel = cancel;
  CURL* curl = NewHandle(exchange, timeoutSeconds);
  if (curl == nullptr) return {false, "无法开始发送"};
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8");
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK) return {false, CurlWhy(code)};
  if (status < 200 || status > 299) return {false, "服务器回答 HTTP " + std::to_string(status)};
  if (robot) {
    const long err = ErrCode(exchange.reply);
    if (err != 0) {
      const std::string msg = ErrMsg(exchange.reply);
      return {false, err < 0 ? std::string("机器人的回答无法识别")
                             : "机器人拒绝（" + std::to_string(err) + (msg.empty() ? "" : "：" + msg) + "）"};
    }
  }
  return {true, {}};
}

bool IsLoopbackHost(const std::string& url) {
  const std::size_t scheme = url.find("://");
  std::string host = url.substr(scheme == std::string::npos ? 0 : scheme + 3);
  host = host.substr(0, host.find('/'));
  if (!host.empty() && host[0] == '[') return host.rfind("[::1]", 0) == 0;
  host = AsciiLower(host.substr(0, host.find(':')));
  return host == "localhost" || host.rfind("127.", 0) == 0;
}

DeliveryOutcome SendMail(const AlertSettings& s, const AlertMessage& message, int timeoutSeconds,
                         const std::atomic<bool>* cancel) {
  const std::string from = s.mailFrom.empty() ? s.mailUser : s.mailFrom;
  const std::vector<std::string> to = MailRecipients(s.mailTo);
  if (!IsPlainMailAddress(from)) return {false, "发件人地址无效"};
  std::string toHeader;
  for (const std::string& address : to) {
    if (!IsPlainMailAddress(address)) return {false, "提醒邮箱地址无效"};
    toHeader += (toHeader.empty() ? "<" : ", <") + address + ">";
  }
  if (to.empty()) return {false, "没有提醒邮箱"};
  Exchange exchange;
  exchange.cancel = cancel;
  exchange.upload = MailText(message, from, toHeader,
                             std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch()).count());
  CURL* curl = NewHandle(exchange, timeoutSeconds);
  if (curl == nullptr) return {false, "无法开始发送"};
  const std::string url = MailServerUrl(s.mailServer);
  curl_slist* recipients = nullptr;
  for (const std::string& address : to) recipients = curl_slist_append(recipients, ("<" + address + ">").c_str());
  const std::string mailFrom = "<" + from + ">";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  // A mail server on this machine may speak without encryption; any other must encrypt.
  curl_easy_setopt(curl, CURLOPT_USE_SSL, IsLoopbackHost(url) ? CURLUSESSL_TRY : CURLUSESSL_ALL);
  if (!s.mailUser.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, s.mailUser.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, s.mailPassword.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, mailFrom.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, OnUpload);
  curl_easy_setopt(curl, CURLOPT_READDATA, &exchange);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(exchange.upload.size()));
  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(recipients);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK) {
    return {false, status >= 400 ? "邮件服务器拒绝（" + std::to_string(status) + "）" : CurlWhy(code)};
  }
  return {true, {}};
}

}  // namespace

std::string MailServerUrl(const std::string& server) {
  const std::string lower = AsciiLower(server);
  if (lower.rfind("smtp://", 0) == 0 || lower.rfind("smtps://", 0) == 0) return server;
  const std::size_t colon = server.rfind(':');
  const bool implicitTls = colon != std::string::npos && server.substr(colon + 1) == "465";
  return (implicitTls ? "smtps://" : "smtp://") + server;
}

DeliveryOutcome Deliver(Destination destination, const AlertSettings& s, const AlertMessage& message,
                        int timeoutSeconds, const std::atomic<bool>* cancel) {
  switch (destination) {
    case Destination::DingTalk: {
      if (s.dingTalkUrl.empty()) return {false, "没有设置钉钉机器人"};
      const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::system_clock::now().time_since_epoch());
      return PostJson(DingTalkAddress(s.dingTalkUrl, s.dingTalkSecret, now.count()), RobotTextBody(message), true,
                      timeoutSeconds, cancel);
    }
    case Destination::WeCom:
      if (s.weComUrl.empty()) return {false, "没有设置企业微信机器人"};
      return PostJson(s.weComUrl, RobotTextBody(message), true, timeoutSeconds, cancel);
    case Destination::Webhook:
      if (s.webhookUrl.empty()) return {false, "没有设置提醒网址"};
      return PostJson(s.webhookUrl, WebhookBody(message), false, timeoutSeconds, cancel);
    case Destination::Mail:
      if (s.mailServer.empty() || s.mailTo.empty()) return {false, "没有设置邮件"};
      return SendMail(s, message, timeoutSeconds, cancel);
  }
  return {false, "未知的提醒方式"};
}

}  // namespace qm
