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

bool confirm_session(SellerIdentity* who) {
  // The network wait keeps the windows answering, as every gateway call does.
  const std::string reply = decode_reply(web_request(WebRequest::Get(SellerGetUrl())).body);
  // A reply without the seller's nick is a refused key (or no answer at all).
  // An empty nick names no seller either, so it fails the check as well.
  if (reply.find("<nick>") == std::string::npos) return false;
  SellerIdentity seller;
  seller.nick = extract_between(reply, "<nick>", "<");
  seller.userId = extract_between(reply, "<user_id>", "<");
  seller.avatar = extract_between(reply, "<avatar>", "<");
  if (seller.nick.empty()) return false;

  if (MainView* view = CurrentMainView(); view != nullptr && view->setStatus) {
    view->setStatus(std::string(kConfirmedPrefix) + kVersion + "  卖家：" + seller.nick);
  }
  if (who != nullptr) *who = std::move(seller);
  return true;
}

}  // namespace qm
