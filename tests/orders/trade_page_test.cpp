#include "orders/trade_page.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

std::string Trade(const std::string& tid, const std::string& nick, const std::string& end) {
  return "<trade><buyer_nick>" + nick + "</buyer_nick><end_time>" + end + "</end_time><tid>" + tid +
         "</tid></trade>";
}

std::string Reply(const std::string& trades, const std::string& hasNext) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\" ?><trades_sold_get_response><has_next>" + hasNext +
         "</has_next><trades list=\"true\">" + trades + "</trades></trades_sold_get_response>";
}

TEST(TradePage, ReadsEveryTradeInReplyOrderWithItsFields) {
  const auto page = ReadTradePage(
      Reply(Trade("101", "alice", "2026-03-01 10:00:00") + Trade("102", "bob", "2026-02-01 09:30:00"), "true"),
      true);
  ASSERT_EQ(page.trades.size(), 2u);
  EXPECT_EQ(page.trades[0].tid, "101");
  EXPECT_EQ(page.trades[0].buyerNick, "alice");
  EXPECT_EQ(page.trades[0].endTime, "2026-03-01 10:00:00");
  EXPECT_EQ(page.trades[1].tid, "102");
  EXPECT_TRUE(page.hasNext);
  // Without the end time asked for, it stays empty.
  EXPECT_TRUE(ReadTradePage(Reply(Trade("1", "a", "2026-03-01 10:00:00"), "false"), false)
                  .trades[0].endTime.empty());
}

TEST(TradePage, OnlyTheExactTextTrueAsksForTheNextPage) {
  const std::string one = Trade("1", "a", "2026-03-01 10:00:00");
  EXPECT_TRUE(ReadTradePage(Reply(one, "true"), true).hasNext);
  EXPECT_FALSE(ReadTradePage(Reply(one, "True"), true).hasNext);
  EXPECT_FALSE(ReadTradePage(Reply(one, "TRUE"), true).hasNext);
  EXPECT_FALSE(ReadTradePage(Reply(one, ""), true).hasNext);
  EXPECT_FALSE(ReadTradePage(Reply(one, "false"), true).hasNext);
  EXPECT_FALSE(ReadTradePage("<trades>" + one + "</trades>", true).hasNext);
  // Layout around the value is not part of it.
  EXPECT_TRUE(ReadTradePage(Reply(one, "\n    true\n  "), true).hasNext);
}

TEST(TradePage, TradeElementsInAnyCaseAndAcrossLineBreaks) {
  const std::string reply =
      "<Trades><TRADE><tid>1</tid><buyer_nick>a</buyer_nick></Trade>"
      "<trade>\n  <tid>\n    2\n  </tid>\n  <buyer_nick>\n    b c\n  </buyer_nick>\n"
      "  <end_time>\r\n\t2026-01-02 03:04:05\r\n  </end_time>\n</trade>"
      "<trade><tid>3</tid></trade><trade><tid>4</tid></trade></Trades>";
  const auto page = ReadTradePage(reply, true);
  ASSERT_EQ(page.trades.size(), 4u);
  EXPECT_EQ(page.trades[0].tid, "1");
  EXPECT_EQ(page.trades[1].tid, "2");
  EXPECT_EQ(page.trades[1].buyerNick, "b c");
  EXPECT_EQ(page.trades[1].endTime, "2026-01-02 03:04:05");
  // Each trade ends at the first closing tag after it: 3 and 4 stay apart.
  EXPECT_EQ(page.trades[2].tid, "3");
  EXPECT_EQ(page.trades[3].tid, "4");
}

TEST(TradePage, BrokenAndErrorRepliesGiveNoTrades) {
  EXPECT_TRUE(ReadTradePage("", true).trades.empty());
  EXPECT_TRUE(ReadTradePage("<?xml version=\"1.0\" ?><error_response><code>27</code><msg>Invalid session"
                            "</msg></error_response>",
                            true)
                  .trades.empty());
  // A reply cut inside its last trade keeps the complete ones only.
  const auto cut = ReadTradePage("<trades>" + Trade("1", "a", "x") + "<trade><tid>2</tid><buyer_ni", true);
  ASSERT_EQ(cut.trades.size(), 1u);
  EXPECT_EQ(cut.trades[0].tid, "1");
  // A trade without an order number is no order.
  EXPECT_TRUE(ReadTradePage("<trade><buyer_nick>a</buyer_nick></trade><trade><tid> </tid></trade>", true)
                  .trades.empty());
  // Markup inside a value cannot pull in fields of the next trade.
  const auto odd = ReadTradePage("<trade><tid>5</tid><buyer_nick></trade><trade><tid>6</tid>"
                                 "<buyer_nick>z</buyer_nick></trade>",
                                 true);
  ASSERT_EQ(odd.trades.size(), 2u);
  EXPECT_EQ(odd.trades[0].buyerNick, "");
  EXPECT_EQ(odd.trades[1].buyerNick, "z");
}

TEST(TradePage, ElementTextDecodesCharacterReferencesAndKeepsTheRest) {
  EXPECT_EQ(ElementText("O&#39;Brien"), "O'Brien");
  EXPECT_EQ(ElementText("&quot;x&quot; &apos;y&apos; &lt;b&gt; &amp;amp;"), "\"x\" 'y' <b> &amp;");
  EXPECT_EQ(ElementText("&#x4E70;&#23478;"), "买家");
  EXPECT_EQ(ElementText("&#x1F600;"), "\xF0\x9F\x98\x80");
  // Not references: kept as they are.
  for (const char* kept : {"a & b", "&nbsp;", "&#0;", "&#xD800;", "&#x110000;", "&#12a;", "&;", "&#;",
                                   "tail &amp"})
    EXPECT_EQ(ElementText(kept), std::string(kept));
  EXPECT_EQ(ElementText(" \t\r\n 淘宝 买家 \n"), "淘宝 买家");
  EXPECT_EQ(ElementText("&#32;"), " ");
  // In an order number a decoded line break is layout, in a nick it is kept.
  const auto page = ReadTradePage(
      "<trades><trade><tid>&#10;123&#13;</tid><buyer_nick>a&#10;b</buyer_nick></trade></trades>", false);
  ASSERT_EQ(page.trades.size(), 1u);
  EXPECT_EQ(page.trades[0].tid, "123");
  EXPECT_EQ(page.trades[0].buyerNick, "a\nb");
}

}  // namespace
}  // namespace qm
