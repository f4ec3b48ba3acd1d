#include "settings/config.h"

#include <string>

#include <gtest/gtest.h>

#include "settings/app_session.h"
#include "support/temp_dir.h"
#include "util/text_codec.h"

namespace qm {
namespace {

class ConfigFile : public ::testing::Test {
 protected:
  test::TempDir dir;
  const std::string data = dir.str();
};

TEST_F(ConfigFile, LivesInTheProgramDirectory) { EXPECT_EQ(ConfigPath(data), dir.File("Config.ini")); }

TEST_F(ConfigFile, MissingFileGivesNoAccountsAndEmptyValues) {
  EXPECT_TRUE(AccountNames(data).empty());
  EXPECT_EQ(ReadAppKey(data, "卖家"), "");
  EXPECT_EQ(ReadAppSecret(data, "卖家"), "");
  EXPECT_EQ(ReadSessionKey(data, "卖家"), "");
  EXPECT_EQ(ReadRatingHoursSetting(data, "卖家"), "");
}

TEST_F(ConfigFile, KeysAreStoredUnderTheirExactNamesInGbk) {
  ASSERT_TRUE(WriteAppKey(data, "卖家甲", "12345678"));
  ASSERT_TRUE(WriteAppSecret(data, "卖家甲", "abcdef0123"));
  ASSERT_TRUE(WriteSessionKey(data, "卖家甲", "6100a2b"));
  ASSERT_TRUE(WriteRatingHoursSetting(data, "卖家甲", "36.5"));
  EXPECT_EQ(test::ReadFileBytes(ConfigPath(data)),
            Utf8ToGbk("[卖家甲]\r\nappkey=12345678\r\nAppSecret=abcdef0123\r\nSessionKey=6100a2b\r\n"
                      "评价时间=36.5\r\n"));
  EXPECT_EQ(ReadAppKey(data, "卖家甲"), "12345678");
  EXPECT_EQ(ReadAppSecret(data, "卖家甲"), "abcdef0123");
  EXPECT_EQ(ReadSessionKey(data, "卖家甲"), "6100a2b");
  EXPECT_EQ(ReadRatingHoursSetting(data, "卖家甲"), "36.5");
}

TEST_F(ConfigFile, AccountsAreTheSectionsInFileOrder) {
  ASSERT_TRUE(test::WriteFileBytes(ConfigPath(data), Utf8ToGbk("[zeta]\r\nappkey=1\r\n[阿尔法]\r\n[Beta]\r\n")));
  ASSERT_TRUE(WriteAppKey(data, "gamma", "3"));
  ASSERT_TRUE(WriteAppKey(data, "ZETA", "9"));  // same account, other case: no new section
  EXPECT_EQ(AccountNames(data), (std::vector<std::string>{"zeta", "阿尔法", "Beta", "gamma"}));
  EXPECT_EQ(ReadAppKey(data, "zeta"), "9");
}

TEST_F(ConfigFile, HostileAccountNamesAreRefused) {
  EXPECT_FALSE(WriteAppKey(data, "a]\r\n[b", "x"));
  EXPECT_FALSE(WriteAppSecret(data, "", "x"));
  EXPECT_FALSE(WriteSessionKey(data, "nick", "token\r\nappkey=stolen"));
  EXPECT_TRUE(AccountNames(data).empty());
}

}  // namespace
}  // namespace qm
