#pragma once
// What an alert says and how each destination receives it. Every text a
// buyer or the platform wrote reaches a chat or a mailbox as plain text: no
// line of it can pose as a line of the alert, no address in it becomes a
// link, no "@" a mention.
#include <cstdint>
#include <string>

#include "alerts/alert_settings.h"

namespace qm {

enum class AlertKind { Rating, Summary, Test };

struct AlertMessage {
  AlertKind kind = AlertKind::Rating;
  std::string shop;
  // A rating's alert: the order, the buyer, "neutral" or "bad", the buyer's comment.
  std::string tid, buyer, result, comment;
  std::string time;  // Beijing time as the platform writes it
  // A summary: the day it closes ("YYYY-MM-DD") and its figures over the 24
  // hours before the summary hour.
  std::string day;
  int givenAutomatic = 0, givenEarly = 0, givenAnswered = 0, receivedNeutral = 0, receivedBad = 0;
};

// The longest buyer comment an alert carries, in characters.
inline constexpr std::size_t kAlertCommentLimit = 500;

// A text made safe to show as one line of plain text: control characters and
// line breaks become spaces, "://" reads "[:]//", a dot between a letter or
// digit and a letter reads "[.]", "@" becomes the full-width "＠"; invalid
// UTF-8 becomes "?"; past `limit` characters it is cut with "…".
std::string NeutralisedLine(const std::string& text, std::size_t limit = kAlertCommentLimit);

// The alert as plain text, one field per line (the robots' text and the mail's body).
std::string AlertText(const AlertMessage& message);
// The mail's subject.
std::string AlertSubject(const AlertMessage& message);

// A JSON string literal (quotes included) of UTF-8 text; "<", ">" and "&"
// are escaped too, for a receiver that pastes it into a page.
std::string JsonString(const std::string& text);
// {"msgtype":"text","text":{"content":...}}: the robots' plain text message.
std::string RobotTextBody(const AlertMessage& message);
// The generic webhook's document (README: 提醒网址).
std::string WebhookBody(const AlertMessage& message);

// DingTalk's signature of a request: base64 of HMAC-SHA256 over
// "<timestamp>\n<secret>" keyed with the secret, percent-encoded for a query.
std::string DingTalkSign(std::int64_t timestampMs, const std::string& secret);
// The robot's address with "timestamp" and "sign" added when there is a secret.
std::string DingTalkAddress(const std::string& webhook, const std::string& secret, std::int64_t timestampMs);

// The whole mail (headers, blank line, base64 body) from `from` to `to`;
// `now` (epoch seconds) dates it.
std::string MailText(const AlertMessage& message, const std::string& from, const std::string& to, std::int64_t now);

std::string Base64(const std::string& bytes);

}  // namespace qm
