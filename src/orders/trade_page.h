#pragma once
// Reading one page of "taobao.trades.sold.get" and the platform's times.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orders/order.h"

namespace qm {

struct TradePage {
  std::vector<Order> trades;
  bool hasNext = false;  // the page's has_next holds exactly "true"
};

// Every "<trade>...</trade>" of a decoded reply, in reply order: the element
// name in any letter case, each trade ending at the first closing tag after it,
// across line breaks. From each trade the texts after "<tid>", "<buyer_nick>"
// and (with `withEndTime`) "<end_time>" up to the next "<" are taken, with the
// layout whitespace around them removed and XML character references decoded.
// A reply without trades (an error reply, a failed request) gives none and no
// next page. Linear in the reply's length.
TradePage ReadTradePage(std::string_view reply, bool withEndTime);

// An element's text as the program keeps it: leading and trailing spaces,
// tabs and line breaks dropped, then &lt; &gt; &amp; &quot; &apos; and numeric
// references (&#39; &#x27;) decoded. Anything else is kept as it is.
std::string ElementText(std::string_view raw);

// A platform time "YYYY-MM-DD hh:mm:ss" read as a local date-time, in seconds
// since the epoch; nullopt when the text is not such a time (wrong length or
// layout, month 13, 30 February, hour 24...).
std::optional<double> ParsePlatformTime(std::string_view text);

// Whether a trade that ended at `endTime` is still inside its fifteen-day
// rating period at `nowSeconds` (seconds since the epoch): the days since the
// end, as a fraction, minus 15 must not exceed 0.0000001. An unreadable end
// time counts as outside.
bool WithinRatingPeriod(std::string_view endTime, double nowSeconds);

// The local clock in seconds since the epoch, with fractions.
double NowSeconds();

}  // namespace qm
