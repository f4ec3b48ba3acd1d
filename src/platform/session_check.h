#pragma once
// The start-up check that the stored session key works: "taobao.user.seller.get".
#include <string>

#include "platform/reply.h"
#include "settings/app_session.h"

namespace qm {

struct SellerIdentity {
  std::string nick;
  std::string userId;
  std::string avatar;
};

enum class SessionCheck {
  Confirmed,    // the platform named the seller behind the key
  Refused,      // the platform answered about the key, without a seller: the key is not good
  Unreachable,  // no whole answer from the platform (a time-out, a refused connection, a server's error
                // page, a cut-off reply) or one about the platform's own trouble (a call limit, isp.*)
};

// Why a check was Unreachable: no whole answer (NoAnswer), the platform's
// own trouble (Trouble, with its message), or a timestamp it kept refusing
// (ClockRefused).
struct SessionTrouble {
  ReplyKind kind = ReplyKind::NoAnswer;
  std::string message;  // the platform's words, "msg (sub_code)"; empty for NoAnswer

  bool operator==(const SessionTrouble&) const = default;
};

// Asks the gateway for the seller behind the account's session key and waits
// for the answer (off the UI thread, with the account copied on it). A request
// refused for its timestamp sets the platform clock by the platform's word
// (SyncPlatformClock) and is asked once more. On success *who is filled when
// given; when Unreachable, *why says why.
SessionCheck confirm_session(const Account& account, SellerIdentity* who = nullptr, SessionTrouble* why = nullptr);

// What the status line says once the key is confirmed: "已成功获取Session授权 V",
// the version and the seller.
std::string ConfirmedStatus(const std::string& sellerNick);

}  // namespace qm
