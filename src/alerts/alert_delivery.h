#pragma once
// One try at handing one alert to one destination, over libcurl, on the
// calling thread (a sender's worker, never the UI thread). The robots must
// answer errcode 0, the webhook any 2xx status, the mail server accept the
// mail. No address, token or secret appears in what comes back.
#include <atomic>
#include <string>

#include "alerts/alert_message.h"
#include "alerts/alert_settings.h"

namespace qm {

struct DeliveryOutcome {
  bool delivered = false;
  std::string why;  // the failure, in the seller's words
};

inline constexpr int kDeliveryTimeoutSeconds = 15;

// `cancel` (may be null) ends an exchange under way once it turns true.
DeliveryOutcome Deliver(Destination destination, const AlertSettings& settings, const AlertMessage& message,
                        int timeoutSeconds = kDeliveryTimeoutSeconds, const std::atomic<bool>* cancel = nullptr);

// The mail server's address for libcurl: "host:465" → "smtps://host:465",
// another bare "host[:port]" → "smtp://host[:port]" (STARTTLS); a smtp:// or
// smtps:// address as it is.
std::string MailServerUrl(const std::string& server);

}  // namespace qm
