#pragma once
// Setting the platform's clock by the platform's word ("taobao.time.get").
#include <cstdint>
#include <optional>
#include <string>

#include "settings/app_session.h"

namespace qm {

// Asks the gateway for its time and waits (off the UI thread). True when it
// answers with a 19-character time; a time that reads as one sets the
// platform clock (platform_time.h). A request refused for its timestamp (the
// machine's clock is more than ten minutes off) sets the clock from the
// refusal's HTTP date, to the second, and asks once more with the
// corrected timestamp.
bool SyncPlatformClock(const Account& account);

// The value of the "Date:" line of a reply's header text, as seconds since
// the epoch; nullopt when there is none or it is not an HTTP date.
std::optional<std::int64_t> ReplyDate(const std::string& headers);

}  // namespace qm
