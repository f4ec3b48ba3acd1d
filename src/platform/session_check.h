#pragma once
// The start-up check that the stored session key works: "taobao.user.seller.get".
#include <string>

namespace qm {

struct SellerIdentity {
  std::string nick;
  std::string userId;
  std::string avatar;
};

// Asks the gateway for the seller behind Session().SessionKey. On success sets
// the status line (CurrentMainView()->setStatus) to a text beginning
// "已成功获取Session授权 V", fills *who when given, and returns true. A reply
// without "<nick>" is a failure (false; the caller reports it).
bool confirm_session(SellerIdentity* who = nullptr);

}  // namespace qm
