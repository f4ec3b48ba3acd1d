#include "settings/app_session.h"

namespace qm {

Endpoints Endpoints::AtBase(const std::string& base) {
  std::string b = base;
  while (!b.empty() && b.back() == '/') b.pop_back();
  Endpoints e;
  e.gateway = e.apitools = e.oauth = e.rating = b;
  return e;
}

std::string Endpoints::Base() const {
  const Endpoints at = AtBase(gateway);
  const bool one = apitools == at.apitools && oauth == at.oauth && rating == at.rating;
  return one && gateway != Endpoints().gateway ? gateway : std::string();
}

std::string PathIn(const std::string& dir, const std::string& fileName) {
  if (dir.empty()) return fileName;
  return dir + "/" + fileName;
}

std::string AppSession::PathOf(const std::string& fileName) const { return PathIn(programDir, fileName); }

std::string Account::PathOf(const std::string& fileName) const { return PathIn(dataDir, fileName); }

Account AppSession::RunAccount() const { return Account{AppKey, AppSecret, SessionKey, endpoints, sellerNick, programDir, link}; }

}  // namespace qm
