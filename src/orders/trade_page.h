#pragma once
// Reading one page of "taobao.trades.sold.get" (or of its incremental
// listing, "taobao.trades.sold.increment.get", which answers the same way).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orders/order.h"

namespace qm {

struct TradePage {
  std::vector<Order> trades;
  bool hasNext = false;  // the page's has_next holds exactly "true"
  // The reply is a whole listing page: it ends with the closing tag of
  // trades_sold_get_response (layout whitespace after it allowed). An error
  // reply, an error page of a server and a reply cut short are not.
  bool whole = false;
};

// Every "<trade>...</trade>" of a decoded reply, in reply order: the element
// name in any letter case, each trade ending at the first closing tag after it,
// across line breaks. From each trade the texts after "<tid>", "<buyer_nick>"
// and (with `withEndTime`) "<end_time>" up to the next "<" are taken, with the
// "true" or "false" of "<buyer_rate>" and "<seller_rate>" where a trade has them,
// layout whitespace around them removed and XML character references decoded.
// A reply without trades (an error reply, a failed request) gives none and no
// next page. Linear in the reply's length.
// `response` names the reply's root element: a whole page ends with its closing tag.
inline constexpr std::string_view kSoldGetResponse = "trades_sold_get_response";
inline constexpr std::string_view kSoldIncrementResponse = "trades_sold_increment_get_response";
TradePage ReadTradePage(std::string_view reply, bool withEndTime, std::string_view response = kSoldGetResponse);

// The text inside the whole `root` element of a reply ("<root ...>" up to its
// "</root>"), when the reply holds no error element at all (an
// "<error_response" whole or cut off, in any letter case, anywhere: an error
// reply may echo the call's arguments, an order number among them). Empty
// optional for an error reply, a reply cut short and any other text.
std::optional<std::string_view> AnswerBody(std::string_view reply, std::string_view root);

// An element's text as the program keeps it: leading and trailing spaces,
// tabs and line breaks dropped, then &lt; &gt; &amp; &quot; &apos; and numeric
// references (&#39; &#x27;) decoded. Anything else is kept as it is.
std::string ElementText(std::string_view raw);

}  // namespace qm
