// Reading replies and encoding form text.
#include "platform/reply.h"

#include <gtest/gtest.h>

#include <string>

#include "util/event_pump.h"

namespace qm {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

TEST(DecodeReply, KeepsWellFormedUtf8) {
  EXPECT_EQ(decode_reply(""), "");
  const std::string xml = "<user_seller_get_response><nick>好店铺</nick></user_seller_get_response>";
  EXPECT_EQ(decode_reply(xml), xml);
  // A character far outside the old local code page is kept as it is.
  EXPECT_EQ(decode_reply("a\xF0\x9F\x98\x80" "b"), "a\xF0\x9F\x98\x80" "b");
}

TEST(DecodeReply, ReplacesInvalidSequencesAndKeepsTheRest) {
  // A reply in GBK (好 is B A C 3 there) is not UTF-8: no crash, the ASCII survives.
  const std::string gbk = "<nick>\xBA\xC3</nick>";
  const std::string decoded = decode_reply(gbk);
  EXPECT_EQ(decoded.rfind("<nick>", 0), 0u);
  EXPECT_NE(decoded.find(kReplacement), std::string::npos);
  EXPECT_EQ(decoded.substr(decoded.size() - 7), "</nick>");
  // A sequence cut short at the end, a stray continuation byte, an overlong form.
  EXPECT_EQ(decode_reply("ok\xE5\xA5"), "ok" + kReplacement);
  EXPECT_EQ(decode_reply("\x80x"), kReplacement + "x");
  EXPECT_EQ(decode_reply("\xC0\xAF").find('/'), std::string::npos);
}

TEST(DecodeReply, EndsAtTheFirstNul) {
  EXPECT_EQ(decode_reply(std::string("<tid>1</tid>\0<tid>2</tid>", 25)), "<tid>1</tid>");
  EXPECT_EQ(decode_reply(std::string("\0abc", 4)), "");
}

TEST(DecodeReply, HugeReplyComesThroughWhole) {
  std::string big;
  for (int i = 0; i < 200000; ++i) big += "<trade><tid>" + std::to_string(i) + "</tid></trade>";
  ASSERT_GT(big.size(), 4u << 20);
  EXPECT_EQ(decode_reply(big), big);
}

TEST(ExtractBetween, ReadsTheFirstValueUpToTheNextMarker) {
  EXPECT_EQ(extract_between("<a><tid>456</tid></a>", "<tid>", "<"), "456");
  EXPECT_EQ(extract_between("<a><tid>1</tid><tid>2</tid></a>", "<tid>", "<"), "1");
  EXPECT_EQ(extract_between("<a><nick>x</nick></a>", "<tid>", "<"), "");
  EXPECT_EQ(extract_between("<a><tid>456", "<tid>", "<"), "");
  EXPECT_EQ(extract_between("", "<tid>", "<"), "");
  // No entity decoding, no trimming, letter case matters.
  EXPECT_EQ(extract_between("<content>a&amp;b</content>", "<content>", "<"), "a&amp;b");
  EXPECT_EQ(extract_between("<content>\n  padded \r\n</content>", "<content>", "<"), "\n  padded \r\n");
  EXPECT_EQ(extract_between("<TID>9</TID>", "<tid>", "<"), "");
  // Multi-byte text on either side of the markers.
  EXPECT_EQ(extract_between("前<buyer_nick>买家甲</buyer_nick>后", "<buyer_nick>", "<"), "买家甲");
  // The closing marker is looked for after the opening one only.
  EXPECT_EQ(extract_between("</x><has_next>true</has_next>", "<has_next>", "</"), "true");
}

TEST(ExtractBetween, WalksRepeatedElementsFromAPosition) {
  std::string page = "<trades>";
  for (int i = 0; i < 1000; ++i) page += "<tid>" + std::to_string(i) + "</tid><x/>";
  page += "</trades><tid>";  // an opening marker that never closes
  std::size_t pos = 0;
  int count = 0;
  for (std::string v = extract_between_from(page, "<tid>", "<", &pos); pos != std::string::npos;
       v = extract_between_from(page, "<tid>", "<", &pos)) {
    ASSERT_EQ(v, std::to_string(count));
    ++count;
  }
  EXPECT_EQ(count, 1000);
  // A position past the end, or npos, finds nothing and stays at npos.
  pos = page.size() + 5;
  EXPECT_EQ(extract_between_from(page, "<tid>", "<", &pos), "");
  EXPECT_EQ(pos, std::string::npos);
  EXPECT_EQ(extract_between_from(page, "<tid>", "<", &pos), "");
  EXPECT_EQ(pos, std::string::npos);
}

TEST(ToUtf8, CopiesProgramTextUpToTheFirstNul) {
  EXPECT_EQ(to_utf8(""), "");
  EXPECT_EQ(to_utf8("欢迎再次光临！"), "欢迎再次光临！");
  EXPECT_EQ(to_utf8(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(to_utf8("x\xFFy"), "x" + kReplacement + "y");
}

TEST(PercentEncode, DocumentedExamples) {
  EXPECT_EQ(percent_encode("a b&c"), "a%20b%26c");
  EXPECT_EQ(percent_encode("x.y-z_1"), "x.y-z_1");
  EXPECT_EQ(percent_encode("~"), "%7E");
  EXPECT_EQ(percent_encode(""), "");
  EXPECT_EQ(percent_encode("\n"), "%0A");
  EXPECT_EQ(percent_encode("=+%"), "%3D%2B%25");
  EXPECT_EQ(percent_encode("AZaz09"), "AZaz09");
}

TEST(PercentEncode, ByteAbove126TakesTheNextByteAlong) {
  // 好 is E5 A5 BD: E5 pairs with A5, then BD pairs with the following 'a'.
  EXPECT_EQ(percent_encode("好a"), "%E5%A5%BD%61");
  EXPECT_EQ(percent_encode("好"), "%E5%A5%BD");
  EXPECT_EQ(percent_encode("好评a"), "%E5%A5%BD%E8%AF%84a");
  // A lone byte above 126 at the end is written alone (DEL itself is 127).
  EXPECT_EQ(percent_encode("\x7F"), "%7F");
  EXPECT_EQ(percent_encode("a\x7F" "b"), "a%7F%62");
}

std::string ErrorReplyOf(const std::string& code, const std::string& sub, const std::string& subMsg = {}) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\" ?><error_response><code>" + code + "</code><msg>m</msg>" +
         (sub.empty() ? "" : "<sub_code>" + sub + "</sub_code>") +
         (subMsg.empty() ? "" : "<sub_msg>" + subMsg + "</sub_msg>") + "</error_response>";
}

TEST(ClassifyErrorReply, OnlyTheCredentialsRefuseTheKeyAndALimitIsNoRefusal) {
  EXPECT_EQ(ClassifyErrorReply("<time_get_response><time>2026-01-01 00:00:00</time></time_get_response>"),
            ErrorReply::None);
  // Half of an error reply says nothing.
  EXPECT_EQ(ClassifyErrorReply("<error_response><code>27</code>"), ErrorReply::None);
  EXPECT_EQ(ClassifyErrorReply(ErrorReplyOf("27", "invalid-sessionkey")), ErrorReply::KeyRefused);
  EXPECT_EQ(ClassifyErrorReply(ErrorReplyOf("26", "")), ErrorReply::KeyRefused);
  EXPECT_EQ(ClassifyErrorReply(ErrorReplyOf("25", "")), ErrorReply::KeyRefused);
  EXPECT_EQ(ClassifyErrorReply(ErrorReplyOf("31", "")), ErrorReply::ClockRefused);
  EXPECT_EQ(ClassifyErrorReply(ErrorReplyOf("7", "accesscontrol.limited-by-app-access-count")),
            ErrorReply::CallLimited);
  EXPECT_EQ(ClassifyErrorReply(ErrorReplyOf("7", "")), ErrorReply::CallLimited);
  EXPECT_EQ(ClassifyErrorReply(ErrorReplyOf("15", "isp.remote-service-timeout")), ErrorReply::PlatformTrouble);
  EXPECT_EQ(ClassifyErrorReply(ErrorReplyOf("10", "")), ErrorReply::PlatformTrouble);
  // The rating form's refusals come as code 15 with an "isv." sub-code: the
  // call's fault during a run, and no refused key at its start.
  EXPECT_EQ(ClassifyErrorReply(ErrorReplyOf("15", "isv.trade-rate-exist")), ErrorReply::Refused);
  EXPECT_EQ(ClassifyReply(ErrorReplyOf("15", "isv.trade-rate-exist"), "time_get_response"), ReplyKind::Trouble);
  // Blanks of a pretty-printed reply around the values.
  EXPECT_EQ(ClassifyErrorReply("<error_response>\n  <code>\n    7\n  </code>\n</error_response>"),
            ErrorReply::CallLimited);
}

TEST(ReadCallLimit, TheDaysCallsOrABanOfOneMethodWithTheLengthSaid) {
  auto daily = ReadCallLimit(ErrorReplyOf("7", "accesscontrol.limited-by-app-access-count",
                                          "This ban will last for 71 more seconds"));
  ASSERT_TRUE(daily);
  EXPECT_TRUE(daily->daily);
  EXPECT_EQ(daily->seconds, 71);
  auto ban = ReadCallLimit(ErrorReplyOf("7", "accesscontrol.limited-by-api-access-count",
                                        "This ban will last for 3 more seconds"));
  ASSERT_TRUE(ban);
  EXPECT_FALSE(ban->daily);
  EXPECT_EQ(ban->seconds, 3);
  // No length, a length that is no number, a hostile one: unsaid or capped.
  EXPECT_EQ(ReadCallLimit(ErrorReplyOf("7", "accesscontrol.limited-by-app-access-count"))->seconds, -1);
  EXPECT_EQ(ReadCallLimit(ErrorReplyOf("7", "", "This ban will last for -5 more seconds"))->seconds, -1);
  EXPECT_EQ(ReadCallLimit(ErrorReplyOf("7", "", "This ban will last for 71 more minutes"))->seconds, -1);
  EXPECT_EQ(ReadCallLimit(ErrorReplyOf("7", "", "This ban will last for 99999999999999999999999 more seconds"))
                ->seconds,
            36 * 3600);
  EXPECT_FALSE(ReadCallLimit(ErrorReplyOf("27", "invalid-sessionkey", "This ban will last for 5 more seconds")));
  EXPECT_FALSE(ReadCallLimit("<trades_sold_get_response><has_next>false</has_next></trades_sold_get_response>"));
}

// Only the platform's answer about the credentials refuses the key; its
// other error replies pass by themselves, and what is not the platform's
// whole reply is no answer at all.
TEST(ClassifyReply, OnlyAnAnswerAboutTheCredentialsRefusesTheKey) {
  const std::string answer = "user_seller_get_response";
  auto error = [](const std::string& inner) { return "<?xml version=\"1.0\"?><error_response>" + inner + "</error_response>"; };
  EXPECT_EQ(ClassifyReply("<user_seller_get_response><user><nick>x</nick></user></user_seller_get_response>", answer),
            ReplyKind::Answer);
  for (const char* key : {"<code>27</code><msg>Invalid session</msg><sub_code>invalid-sessionkey</sub_code>",
                          "<code>26</code><msg>Missing session</msg>", "<code>25</code><msg>Invalid signature</msg>",
                          "<code>29</code><msg>Invalid app Key</msg>",
                          "<code>53</code><msg>Session expired</msg><sub_code>isv.invalid-sessionkey</sub_code>"})
    EXPECT_EQ(ClassifyReply(error(key), answer), ReplyKind::KeyRefused) << key;
  EXPECT_EQ(ClassifyReply(error("<code>31</code><msg>Invalid timestamp</msg>"), answer), ReplyKind::ClockRefused);
  for (const char* trouble :
       {"<code>7</code><msg>App Call Limited</msg><sub_code>accesscontrol.limited-by-app-access-count</sub_code>"
        "<sub_msg>This ban will last for 71 more seconds</sub_msg>",
        "<code>15</code><msg>Remote service error</msg><sub_code>isp.remote-service-timeout</sub_code>",
        "<code>502</code><msg>Bad Gateway</msg>", "<code>10</code><msg>Service currently unavailable</msg>",
        "<code>11</code><msg>Insufficient isv permissions</msg><sub_code>isv.permission-api-package-limit</sub_code>",
        // An error that echoes a whole answer element is an error all the same.
        "<code>15</code><sub_code>isp.remote-service-error</sub_code><user_seller_get_response></user_seller_get_response>"})
    EXPECT_EQ(ClassifyReply(error(trouble), answer), ReplyKind::Trouble) << trouble;
  for (const char* none : {"", "<user_seller_get_response><user><nick>cut", "<error_response><code>27</code><msg>Inv",
                           "<html><head><title>502 Bad Gateway</title></head><body>nginx</body></html>",
                           "<html><body><form action=\"/portal/login\">请先登录上网</form></body></html>"})
    EXPECT_EQ(ClassifyReply(none, answer), ReplyKind::NoAnswer) << none;
  const PlatformError e = ReadPlatformError(error(" <code> 7 </code><msg>App Call Limited</msg><sub_code>accesscontrol.x</sub_code>"));
  EXPECT_EQ(e.code, "7");
  EXPECT_EQ(e.Text(), "App Call Limited (accesscontrol.x)");
}

}  // namespace
}  // namespace qm
