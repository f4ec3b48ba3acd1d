#pragma once
// The start-up check that the stored session key works: "taobao.user.seller.get".
#include <string>

namespace qm {

struct SellerIdentity {
  std::string nick;
  std::string userId;
  std::string avatar;
};

enum class SessionCheck {
  Confirmed,    // the platform named the seller behind the key
  Refused,      // the platform answered, without a seller: the key is not good
  Unreachable,  // no answer, or none from the platform (a time-out, a refused connection, a server's error page)
};

// Asks the gateway for the seller behind Session().SessionKey. On success sets
// the status line (CurrentMainView()->setStatus) to a text beginning
// "已成功获取Session授权 V" and fills *who when given.
SessionCheck confirm_session(SellerIdentity* who = nullptr);

}  // namespace qm
