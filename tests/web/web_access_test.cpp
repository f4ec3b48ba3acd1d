// What decides who reaches the web page: the stored password's check and the
// address the page listens on.
#include <gtest/gtest.h>

#include <string>

#include "web/web_password.h"
#include "web/web_server.h"

namespace qm {
namespace {

// Fewer rounds than a stored password has keep the test quick; the check
// reads the count from the stored text.
constexpr int kQuickRounds = 100000;

TEST(WebPassword, OnlyTheSamePasswordMatchesAndATamperedHashMatchesNothing) {
  const std::string stored = HashWebPassword("correct horse", kQuickRounds);
  ASSERT_EQ(stored.rfind("pbkdf2-sha256$100000$", 0), 0u) << stored;
  EXPECT_TRUE(WebPasswordMatches("correct horse", stored));
  EXPECT_FALSE(WebPasswordMatches("correct hors", stored));
  EXPECT_FALSE(WebPasswordMatches("", stored));
  // The salt is fresh each time: the same password stores differently.
  EXPECT_NE(stored, HashWebPassword("correct horse", kQuickRounds));

  // A hand-edited or truncated entry opens nothing, and a cheap one is not accepted.
  EXPECT_FALSE(WebPasswordMatches("correct horse", ""));
  EXPECT_FALSE(WebPasswordMatches("correct horse", "correct horse"));
  EXPECT_FALSE(WebPasswordMatches("correct horse", stored.substr(0, stored.size() - 2)));
  std::string fewer = stored;
  fewer.replace(fewer.find("100000"), 6, "1");
  EXPECT_FALSE(WebPasswordMatches("correct horse", fewer));
  std::string flipped = stored;
  flipped.back() = flipped.back() == '0' ? '1' : '0';
  EXPECT_FALSE(WebPasswordMatches("correct horse", flipped));
  EXPECT_FALSE(WebPasswordMatches("correct horse", "pbkdf2-sha256$99999999999$00$00"));
}

TEST(WebAddress, PortAloneIsTheMachineItselfAndNonsenseIsRefused) {
  std::string address;
  int port = -1;
  ASSERT_TRUE(ParseWebAddress("8080", &address, &port));
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_EQ(port, 8080);
  ASSERT_TRUE(ParseWebAddress(":9000", &address, &port));
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_EQ(port, 9000);
  ASSERT_TRUE(ParseWebAddress("0.0.0.0:80", &address, &port));
  EXPECT_EQ(address, "0.0.0.0");
  ASSERT_TRUE(ParseWebAddress("[::1]:8443", &address, &port));
  EXPECT_EQ(address, "::1");
  EXPECT_EQ(port, 8443);
  for (const char* bad : {"", "host:", "host:http", "127.0.0.1:65536", "127.0.0.1:-1", "a b:80", "127.0.0.1:123456"}) {
    EXPECT_FALSE(ParseWebAddress(bad, &address, &port)) << bad;
  }
}

TEST(WebAddress, AllowedNamesAreTrimmedAndSplitAtEitherComma) {
  const std::vector<std::string> names = SplitList(" shop.example.com ,nas.local:8080，店铺.example ,, ");
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "shop.example.com");
  EXPECT_EQ(names[1], "nas.local:8080");
  EXPECT_EQ(names[2], "店铺.example");
  EXPECT_TRUE(SplitList("").empty());
}

}  // namespace
}  // namespace qm
