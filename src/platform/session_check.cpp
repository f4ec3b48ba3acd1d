#include "platform/session_check.h"

#include "platform/reply.h"
#include "platform/request.h"
#include "platform/transport.h"
#include "util/ports.h"

namespace qm {
namespace {
// The status line after a confirmed session: the fixed opening, the program's
// version, then the seller the key belongs to.
constexpr const char* kConfirmedPrefix = "已成功获取Session授权 V";
constexpr const char* kVersion = "1.0";
}  // namespace

SessionCheck confirm_session(SellerIdentity* who) {
  // The network wait keeps the windows answering, as every gateway call does.
  const WebReply answer = web_request(WebRequest::Get(SellerGetUrl()));
  const std::string reply = decode_reply(answer.body);
  // Only the platform's own reply says anything about the key: its error
  // reply refuses it; no reply, or a page that is not the platform's, says
  // the platform cannot be reached.
  const bool fromPlatform = reply.find("_response") != std::string::npos;
  if (!answer.arrived || !fromPlatform) return SessionCheck::Unreachable;
  // A reply without the seller's nick is a refused key. An empty nick names
  // no seller either, so it fails the check as well.
  if (reply.find("<nick>") == std::string::npos) return SessionCheck::Refused;
  SellerIdentity seller;
  seller.nick = extract_between(reply, "<nick>", "<");
  seller.userId = extract_between(reply, "<user_id>", "<");
  seller.avatar = extract_between(reply, "<avatar>", "<");
  if (seller.nick.empty()) return SessionCheck::Refused;

  if (MainView* view = CurrentMainView(); view != nullptr && view->setStatus) {
    view->setStatus(std::string(kConfirmedPrefix) + kVersion + "  卖家：" + seller.nick);
  }
  if (who != nullptr) *who = std::move(seller);
  return SessionCheck::Confirmed;
}

}  // namespace qm
