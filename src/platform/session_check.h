#pragma once
// The start-up check that the stored session key works: "taobao.user.seller.get".
#include <string>

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

// Asks the gateway for the seller behind the account's session key and waits
// for the answer (off the UI thread, with the account copied on it). On
// success *who is filled when given.
SessionCheck confirm_session(const Account& account, SellerIdentity* who = nullptr);

// What the status line says once the key is confirmed: "已成功获取Session授权 V",
// the version and the seller.
std::string ConfirmedStatus(const std::string& sellerNick);

}  // namespace qm
