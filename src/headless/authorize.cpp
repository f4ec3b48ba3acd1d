#include "headless/authorize.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "headless/runner.h"
#include "platform/authorize.h"
#include "platform/session_check.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/stop.h"

namespace qm {
namespace {

enum class LineRead { Ok, TooLong, Ended, Stopped };

// One line from the descriptor, waiting in short slices so that a stop
// signal ends the wait.
LineRead ReadLine(int fd, std::string* line) {
  line->clear();
  for (;;) {
    if (StopRequested()) return LineRead::Stopped;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, 100);
    if (ready < 0 && errno != EINTR) return LineRead::Ended;
    if (ready <= 0) continue;
    char c = 0;
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return line->empty() ? LineRead::Ended : LineRead::Ok;
    if (c == '\n') return LineRead::Ok;
    if (line->size() >= kPastedAddressLimit) return LineRead::TooLong;
    line->push_back(c);
  }
}

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  const std::size_t start = text.find_first_not_of(blanks);
  if (start == std::string::npos) return {};
  return text.substr(start, text.find_last_not_of(blanks) - start + 1);
}

}  // namespace

int RunAuthorize(int inputFd, const std::function<void(const std::string&)>& printLine) {
  AppSession& s = Session();
  if (s.AppKey.empty() || s.AppSecret.empty()) {
    printLine("authorize: the account " + s.sellerNick + " has no appkey or AppSecret in Config.ini");
    return kExitNoCredentials;
  }
  printLine("authorize: open this address in a browser, log in as " + s.sellerNick + " and allow the application:");
  // Alone on its line, so that it can be copied as it is.
  std::printf("%s\n", AuthorizeAddress(s.AppKey).c_str());
  printLine("authorize: then paste the address of the last page (it holds \"access_token=\") and press Enter");
  std::fflush(stdout);

  std::string pasted;
  switch (ReadLine(inputFd, &pasted)) {
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
  if (!WriteSessionKey(s.sellerNick, token)) {
    printLine("authorize: " + ConfigPath() + " could not be written; nothing was stored");
    return kExitSettingsFile;
  }
  s.SessionKey = token;
  printLine("authorize: the session key of " + s.sellerNick + " was stored in Config.ini");
  SellerIdentity who;
  if (!confirm_session(&who)) {
    printLine("authorize: the platform did not confirm the session of " + s.sellerNick);
    return kExitSessionRefused;
  }
  printLine("authorize: session confirmed, seller " + who.nick);
  return kExitOk;
}

}  // namespace qm
