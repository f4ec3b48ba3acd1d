// The runner's --authorize as a process against the sandbox: the address of
// a real token page (reached by logging in over plain HTTP, as a browser
// would) is pasted on standard input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/headless_process.h"
#include "support/sandbox_calls.h"
#include "support/temp_dir.h"
#include "util/text_codec.h"

namespace qm::test {
namespace {

using Outcome = test::HeadlessRun;

Outcome RunWithInput(const std::vector<std::string>& args, const std::string& input) {
  return test::RunHeadless(args, input);
}

// The address of the token page after a login and consent in the sandbox.
std::string TokenPageAddress(const Sandbox& sandbox) {
  const SandboxSeller& s = sandbox.Seller();
  HttpResult login = HttpPost(sandbox, "/authorize/login",
                              "response_type=token&client_id=" + s.appKey + "&TPL_username=" + UrlEncode(s.nick) +
                                  "&TPL_password=" + UrlEncode(s.password));
  const std::string ticket = login.location.substr(login.location.find("ticket=") + 7);
  HttpResult agreed =
      HttpPost(sandbox, "/authorize/consent", "client_id=" + s.appKey + "&ticket=" + ticket + "&agree=1");
  return agreed.location;
}

class HeadlessAuthorize : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox_.Ok());
    const SandboxSeller& s = sandbox_.Seller();
    config_ = Utf8ToGbk("[" + s.nick + "]\r\nappkey=" + s.appKey + "\r\nAppSecret=" + s.appSecret + "\r\n");
    ASSERT_TRUE(WriteFileBytes(dir_.File("Config.ini"), config_));
  }
  Outcome Authorize(const std::string& input) {
    return RunWithInput({"--account", sandbox_.Seller().nick, "--data-dir", dir_.str(), "--platform",
                         sandbox_.BaseUrl(), "--authorize"},
                        input);
  }
  Sandbox sandbox_;
  TempDir dir_;
  std::string config_;
};

TEST_F(HeadlessAuthorize, APastedTokenPageAddressIsStoredAndConfirmed) {
  // Without a key the runner says how to get one.
  Outcome plain = RunWithInput({"--account", sandbox_.Seller().nick, "--data-dir", dir_.str(), "--platform",
                            sandbox_.BaseUrl(), "--once"},
                           "");
  EXPECT_EQ(plain.exitCode, 5);
  EXPECT_NE(plain.output.find("--authorize"), std::string::npos) << plain.output;

  const std::string address = TokenPageAddress(sandbox_);
  ASSERT_NE(address.find("access_token="), std::string::npos) << address;
  Outcome run = Authorize("  " + address + "\r\n");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  const std::string authorize =
      sandbox_.BaseUrl() + "/authorize?response_type=token&client_id=" + sandbox_.Seller().appKey + "\n";
  EXPECT_NE(run.output.find("\n" + authorize), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("session confirmed"), std::string::npos) << run.output;
  // The key is a secret: it is in Config.ini (0600) and nowhere in the output.
  EXPECT_EQ(run.output.find(sandbox_.Seller().session), std::string::npos);
  const std::string stored = GbkToUtf8(ReadFileBytes(dir_.File("Config.ini")));
  EXPECT_NE(stored.find("SessionKey=" + sandbox_.Seller().session), std::string::npos) << stored;
  struct stat st {};
  ASSERT_EQ(stat(dir_.File("Config.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Outcome once = RunWithInput({"--account", sandbox_.Seller().nick, "--data-dir", dir_.str(), "--platform",
                           sandbox_.BaseUrl(), "--once"},
                          "");
  EXPECT_EQ(once.exitCode, 0) << once.output;
}

TEST_F(HeadlessAuthorize, AnAddressWithoutATokenIsRefusedAndNothingIsWritten) {
  const std::string base = sandbox_.BaseUrl() + "/oauth2?view=web#";
  for (const std::string& pasted :
       {base + "error=access_denied&error_description=x", base + "access_token=6100abc", base + "access_token=&x=1",
        base + "access_token=bad\x01key&x=1", std::string(), std::string(70000, 'a') + "access_token=k&"}) {
    Outcome run = Authorize(pasted + "\n");
    EXPECT_EQ(run.exitCode, 9) << pasted.substr(0, 80) << "\n" << run.output;
    EXPECT_NE(run.output.find("nothing was stored"), std::string::npos) << run.output;
    EXPECT_EQ(ReadFileBytes(dir_.File("Config.ini")), config_);
  }
  // End of input without a line.
  Outcome closed = Authorize("");
  EXPECT_EQ(closed.exitCode, 9) << closed.output;
  EXPECT_EQ(ReadFileBytes(dir_.File("Config.ini")), config_);
}

// The key is stored only once the platform confirms it for this very
// account: a platform that does not answer, or a key that the platform names
// another seller for, leaves Config.ini as it was.
TEST_F(HeadlessAuthorize, OnlyAKeyConfirmedForThisSellerIsStored) {
  const SandboxSeller& s = sandbox_.Seller();
  const std::string working = Utf8ToGbk("[" + s.nick + "]\r\nappkey=" + s.appKey + "\r\nAppSecret=" + s.appSecret +
                                        "\r\nSessionKey=working\r\n[青禾小铺]\r\nappkey=" + s.appKey +
                                        "\r\nAppSecret=" + s.appSecret + "\r\n");
  ASSERT_TRUE(WriteFileBytes(dir_.File("Config.ini"), working));
  const std::string address = TokenPageAddress(sandbox_);

  // A stale platform address: no confirmation, nothing replaced.
  Outcome run = RunWithInput({"--account", s.nick, "--data-dir", dir_.str(), "--platform", "http://127.0.0.1:9",
                              "--authorize"},
                             address + "\n");
  EXPECT_EQ(run.exitCode, 6) << run.output;
  EXPECT_NE(run.output.find("nothing was stored"), std::string::npos) << run.output;
  EXPECT_EQ(ReadFileBytes(dir_.File("Config.ini")), working);

  // The platform names the key's seller, who is not the account.
  run = RunWithInput({"--account", "青禾小铺", "--data-dir", dir_.str(), "--platform", sandbox_.BaseUrl(),
                      "--authorize"},
                     address + "\n");
  EXPECT_EQ(run.exitCode, 9) << run.output;
  EXPECT_NE(run.output.find("belongs to seller " + s.nick + ", not to the account 青禾小铺"), std::string::npos)
      << run.output;
  EXPECT_EQ(ReadFileBytes(dir_.File("Config.ini")), working);
}

}  // namespace
}  // namespace qm::test
