#pragma once
// One local socket per seller account and program directory: the running
// program listens on it, and a second start of the same account, which
// cannot have the account's files, asks the running one to show its window
// instead of ending without a word.
//
// On Linux the socket lives where only its user can make names: the
// session's runtime directory ($XDG_RUNTIME_DIR) when it is the user's own and
// closed to others, else the program directory (which the program refuses
// to use when another user owns it or others may write it). Each side checks
// the other's user through the connection itself, so a name that another
// user holds is reported and never talked to.
#include <QObject>
#include <QString>
#include <functional>
#include <string>

class QLocalServer;

namespace qm {

// The socket's name for the account `nick` (its Config.ini section) in the
// program directory `dir`: the same for "NICK" and "nick", different for
// another directory or another user. A path on Linux.
QString InstanceSocketName(const std::string& dir, const std::string& nick);

enum class ChannelOutcome {
  Done,        // listening; or the running program showed its window
  NoAnswer,    // no program of this user answered (or could not listen)
  OtherUser,   // the name belongs to another user: nothing was said to it
};

class InstanceChannel : public QObject {
  Q_OBJECT
 public:
  explicit InstanceChannel(QObject* parent = nullptr);
  ~InstanceChannel() override;

  // Listens under `name`; `show` runs on the UI thread for every later
  // start of this user that asks. Call only while holding the account's
  // files: a socket of this user left by a killed run is taken over.
  ChannelOutcome Listen(const QString& name, std::function<void()> show);

  // From a second start: asks the program listening under `name` to show its
  // window, waiting at most `waitMs` for each step.
  static ChannelOutcome AskToShow(const QString& name, int waitMs = 2000);

  // The seller's words for a name held by another user.
  static std::string OtherUserText(const QString& name);

 private:
  QLocalServer* server_ = nullptr;
  std::function<void()> show_;
};

}  // namespace qm
