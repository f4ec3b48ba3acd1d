#include "platform/session_check.h"

#include "platform/platform_link.h"
#include "platform/reply.h"
#include "platform/request.h"
#include "platform/time_check.h"
#include "platform/transport.h"

namespace qm {
namespace {
// The status line after a confirmed session: the fixed opening, the program's
// version, then the seller the key belongs to.
constexpr const char* kConfirmedPrefix = "已成功获取Session授权 V";
constexpr const char* kVersion = "1.0";

}  // namespace

std::string ConfirmedStatus(const std::string& sellerNick) {
  return std::string(kConfirmedPrefix) + kVersion + "  卖家：" + sellerNick;
}

SessionCheck confirm_session(const Account& account, SellerIdentity* who, SessionTrouble* why) {
  std::string reply;
  ReplyKind kind = ReplyKind::NoAnswer;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const WebReply answer = web_request(Through(account, WebRequest::Get(SellerGetUrl(account))));
    reply = answer.arrived ? decode_reply(answer.body) : std::string();
    kind = ClassifyReply(reply, "user_seller_get_response");
    // A timestamp refused says the clocks disagree, nothing about the key:
    // the platform's time is asked and the question asked again with it.
    if (kind != ReplyKind::ClockRefused || attempt > 0 || !SyncPlatformClock(account)) break;
  }
  // Only the platform's own whole reply about the credentials refuses the
  // key. Its other error replies (a call limit, its own failure, a gateway's
  // error), no reply, a cut-off one, or a page that is not the platform's,
  // say the platform cannot be used for now.
  if (kind == ReplyKind::KeyRefused) return SessionCheck::Refused;
  if (kind != ReplyKind::Answer) {
    if (why != nullptr) *why = {kind, kind == ReplyKind::NoAnswer ? std::string() : ReadPlatformError(reply).Text()};
    return SessionCheck::Unreachable;
  }
  // A reply without the seller's nick is a refused key. An empty nick names
  // no seller either, so it fails the check as well.
  if (reply.find("<nick>") == std::string::npos) return SessionCheck::Refused;
  SellerIdentity seller;
  seller.nick = extract_between(reply, "<nick>", "<");
  seller.userId = extract_between(reply, "<user_id>", "<");
  seller.avatar = extract_between(reply, "<avatar>", "<");
  if (seller.nick.empty()) return SessionCheck::Refused;

  if (who != nullptr) *who = std::move(seller);
  return SessionCheck::Confirmed;
}

}  // namespace qm
