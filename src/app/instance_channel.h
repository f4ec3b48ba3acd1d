#pragma once
// One local socket per seller account and program directory: the running
// program listens on it, and a second start of the same account, which
// cannot have the account's files, asks the running one to show its window
// instead of ending without a word.
#include <QObject>
#include <QString>
#include <functional>
#include <string>

class QLocalServer;

namespace qm {

// The socket's name for the account `nick` (its Config.ini section) in the
// program directory `dir`: the same for "NICK" and "nick", different for
// another directory or another user.
QString InstanceSocketName(const std::string& dir, const std::string& nick);

class InstanceChannel : public QObject {
  Q_OBJECT
 public:
  explicit InstanceChannel(QObject* parent = nullptr);
  ~InstanceChannel() override;

  // Listens under `name`; `show` runs on the UI thread for every later
  // start that asks. Call only while holding the account's files: a socket
  // left by a killed run is taken over. False when it cannot listen.
  bool Listen(const QString& name, std::function<void()> show);

  // From a second start: asks the program listening under `name` to show its
  // window. False when none answered within `waitMs`.
  static bool AskToShow(const QString& name, int waitMs = 2000);

 private:
  QLocalServer* server_ = nullptr;
  std::function<void()> show_;
};

}  // namespace qm
