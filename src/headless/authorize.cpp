#include "headless/authorize.h"

#include <cstdio>

#include "headless/runner.h"
#include "platform/authorize.h"
#include "platform/session_check.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/input_line.h"
#include "util/stop.h"

namespace qm {
namespace {

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  const std::size_t start = text.find_first_not_of(blanks);
  if (start == std::string::npos) return {};
  return text.substr(start, text.find_last_not_of(blanks) - start + 1);
}

}  // namespace

int RunAuthorize(AppSession& s, const std::function<void(const std::string&)>& printLine) {
  if (s.AppKey.empty() || s.AppSecret.empty()) {
    printLine("authorize: the account " + s.sellerNick + " has no appkey or AppSecret in Config.ini");
    return kExitNoCredentials;
  }
  printLine("authorize: open this address in a browser, log in as " + s.sellerNick + " and allow the application:");
  // Alone on its line, so that it can be copied as it is.
  std::printf("%s\n", AuthorizeAddress(s.endpoints, s.AppKey).c_str());
  printLine("authorize: then paste the address of the last page (it holds \"access_token=\") and press Enter");
  std::fflush(stdout);

  std::string pasted;
  switch (ReadInputLine(&pasted, kPastedAddressLimit)) {
    case LineRead::Ok:
      break;
    case LineRead::Stopped:
      return kExitOk;
    case LineRead::TooLong:
      printLine("authorize: the pasted line is longer than " + std::to_string(kPastedAddressLimit) +
                " bytes; nothing was stored");
      return kExitNoToken;
    case LineRead::Ended:
      printLine("authorize: no address was pasted; nothing was stored");
      return kExitNoToken;
  }
  const std::string token = TokenFromAddress(Trimmed(pasted));
  if (token.empty()) {
    printLine("authorize: the pasted address holds no access token (\"access_token=\" followed by the key and "
              "\"&\"); nothing was stored");
    return kExitNoToken;
  }
  // The key is stored only once the platform has said whose it is: a dead key
  // or another shop's must not replace the one that works.
  const std::string previous = s.SessionKey;
  s.SessionKey = token;
  SellerIdentity who;
  if (confirm_session(s.RunAccount(), &who) != SessionCheck::Confirmed) {
    s.SessionKey = previous;
    if (StopRequested()) return kExitOk;
    printLine("authorize: the platform did not confirm the session of " + s.sellerNick + "; nothing was stored");
    return kExitSessionRefused;
  }
  if (who.nick != s.sellerNick) {
    s.SessionKey = previous;
    printLine("authorize: the key belongs to seller " + who.nick + ", not to the account " + s.sellerNick +
              "; nothing was stored");
    return kExitNoToken;
  }
  if (!WriteSessionKey(s.programDir, s.sellerNick, token)) {
    s.SessionKey = previous;
    printLine("authorize: " + ConfigPath(s.programDir) + " could not be written; nothing was stored");
    return kExitSettingsFile;
  }
  printLine("authorize: session confirmed, seller " + who.nick + "; the session key was stored in Config.ini");
  return kExitOk;
}

}  // namespace qm
