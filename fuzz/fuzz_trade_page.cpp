// Feeds arbitrary bytes to the reader of trade pages and the platform-time
// reader: no crash, every trade has an order number without layout space
// around it, never more trades than opening tags, and a time that reads at
// all writes back as the very same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "orders/trade_page.h"
#include "platform/platform_time.h"
#include "platform/reply.h"
#include "util/text_codec.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::size_t CountOpenings(const std::string& lowered) {
  std::size_t n = 0;
  for (std::size_t pos = lowered.find("<trade>"); pos != std::string::npos; pos = lowered.find("<trade>", pos + 1))
    ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string reply = qm::decode_reply(bytes);
  for (bool withEnd : {false, true}) {
    const qm::TradePage page = qm::ReadTradePage(reply, withEnd);
    Check(page.trades.size() <= CountOpenings(qm::AsciiLower(reply)));
    for (const auto& t : page.trades) {
      Check(!t.tid.empty());
      Check(!Space(t.tid.front()) && !Space(t.tid.back()));
      Check(withEnd || t.endTime.empty());
      if (auto when = qm::ParsePlatformTime(t.endTime)) Check(qm::FormatPlatformTime(*when) == t.endTime);
      (void)qm::WithinRatingPeriod(t.endTime, 1.8e9);
      (void)qm::HoursLeft(t.endTime, 1.8e9);
    }
  }
  (void)qm::ElementText(bytes);
  if (auto when = qm::ParsePlatformTime(bytes)) Check(qm::FormatPlatformTime(*when) == bytes);
  return 0;
}
