#include "settings/app_session.h"

namespace qm {

Endpoints Endpoints::AtBase(const std::string& base) {
  std::string b = base;
  while (!b.empty() && b.back() == '/') b.pop_back();
  Endpoints e;
  e.gateway = e.apitools = e.oauth = e.rating = b;
  return e;
}

std::string AppSession::PathOf(const std::string& fileName) const {
  if (programDir.empty()) return fileName;
  return programDir + "/" + fileName;
}

AppSession& Session() {
  static AppSession session;
  return session;
}

Account CurrentAccount() {
  const AppSession& s = Session();
  return Account{s.AppKey, s.AppSecret, s.SessionKey, s.endpoints};
}

}  // namespace qm
