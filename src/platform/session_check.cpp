#include "platform/session_check.h"

#include "platform/reply.h"
#include "platform/request.h"
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

SessionCheck confirm_session(const Account& account, SellerIdentity* who) {
  const WebReply answer = web_request(WebRequest::Get(SellerGetUrl(account)));
  const std::string reply = decode_reply(answer.body);
  // Only the platform's own whole reply says anything about the key: its
  // error reply refuses it, unless the error is the platform's own trouble;
  // no reply, a cut-off one, or a page that is not the platform's, says the
  // platform cannot be reached.
  if (!answer.arrived) return SessionCheck::Unreachable;
  switch (ClassifyErrorReply(reply)) {
    case ErrorReply::None: break;
    // A call limit or the platform's own trouble says nothing about the key.
    case ErrorReply::CallLimited:
    case ErrorReply::PlatformTrouble: return SessionCheck::Unreachable;
    case ErrorReply::SessionRefused:
    case ErrorReply::Refused: return SessionCheck::Refused;
  }
  if (!CompleteElement(reply, "user_seller_get_response")) return SessionCheck::Unreachable;
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
