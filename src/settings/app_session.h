#pragma once
// The start-up record of one seller's run: the chosen seller account, its
// credentials, the standing comment, the rating lead time, the program
// directory and the platform endpoints. The front end that starts the run
// owns it and hands it to the windows and steps that need it; work off the UI
// thread gets an Account copied from it. Texts are UTF-8.
#include <cstdint>
#include <memory>
#include <string>

namespace qm {

class PlatformLink;  // platform/platform_link.h

// Where the marketplace's services live. By default the public hosts;
// `--platform URL` points every one of them at one base URL (the sandbox).
struct Endpoints {
  std::string gateway = "https://gw.api.taobao.com";       // + "/router/rest?sign=..."
  std::string apitools = "https://api.taobao.com";         // + "/apitools/getResult.do"
  std::string oauth = "https://oauth.taobao.com";          // + "/authorize?..." and "/oauth2?..."
  std::string rating = "https://rate.taobao.com";          // + "/myRate.htm"

  // All four at one base ("http://127.0.0.1:PORT"); a trailing '/' is dropped.
  static Endpoints AtBase(const std::string& base);
  // The base all four were put at, as `--platform` gives it again; empty
  // for the public hosts.
  std::string Base() const;
};

// Who a request acts for, where it goes and where the seller's files are: a
// copy taken once, so that work on another thread never reads the start-up
// record.
struct Account {
  std::string appKey;
  std::string appSecret;
  std::string sessionKey;
  Endpoints endpoints;
  std::string sellerNick;
  std::string dataDir;  // the program directory, no trailing separator
  // What the program keeps of the platform (its clock, the key's call limits).
  std::shared_ptr<PlatformLink> link;

  // dataDir joined with a file name.
  std::string PathOf(const std::string& fileName) const;
};

struct AppSession {
  std::string sellerNick;   // section of Config.ini, stem of the per-seller files
  std::string AppKey;
  std::string AppSecret;
  std::string SessionKey;
  std::string autoContent;  // the standing comment
  std::int32_t pageEdited = 0;
  float ratingHours = 24.0f;
  // Minutes between the reloads of the unrated orders while the program
  // runs ("重新读取间隔"); 0: none.
  std::int32_t reloadMinutes = 60;
  std::string programDir;      // the program directory, no trailing separator
  Endpoints endpoints;
  // What the program keeps of the platform, made by the front end.
  std::shared_ptr<PlatformLink> link;

  // programDir joined with a file name by the platform's separator.
  std::string PathOf(const std::string& fileName) const;
  // The key, secret, session key, endpoints, nick and directory, copied, and the link.
  Account RunAccount() const;
};

// `dir` joined with a file name by the platform's separator; the bare name
// without a directory.
std::string PathIn(const std::string& dir, const std::string& fileName);

}  // namespace qm
