#include "app/instance_channel.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "util/file_guard.h"
#endif

namespace qm {
namespace {
constexpr char kShowRequest[] = "show\n";
constexpr char kShown[] = "ok\n";

std::string AsciiFolded(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return folded;
}

#ifndef _WIN32
// Where the names are made: a directory that only this user can add names to.
std::string NameDirectory(const std::string& programDir) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    struct stat st {};
    if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && ForeignOwnershipProblem(runtime).empty()) return runtime;
  }
  return programDir;
}

// The user on the other end of a connected local socket; -1 when unknown.
long PeerUser(const QLocalSocket& socket) {
  struct ucred cred {};
  socklen_t length = sizeof cred;
  const auto fd = static_cast<int>(socket.socketDescriptor());
  if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) return -1;
  return static_cast<long>(cred.uid);
}

bool OursOnTheOtherEnd(const QLocalSocket& socket) { return PeerUser(socket) == static_cast<long>(::geteuid()); }

// The owner of whatever stands under the name; -1 when nothing does.
long NameOwner(const QString& name) {
  struct stat st {};
  if (::lstat(name.toLocal8Bit().constData(), &st) != 0) return -1;
  return static_cast<long>(st.st_uid);
}

bool TakenByAnotherUser(const QString& name) {
  const long owner = NameOwner(name);
  return owner >= 0 && owner != static_cast<long>(::geteuid());
}
#else
bool OursOnTheOtherEnd(const QLocalSocket&) { return true; }
bool TakenByAnotherUser(const QString&) { return false; }
#endif
}  // namespace

QString InstanceSocketName(const std::string& dir, const std::string& nick) {
  // Section names compare without regard to ASCII case, as Config.ini does.
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(QByteArray::fromStdString(dir));
  hash.addData(QByteArray("\n", 1));
  hash.addData(QByteArray::fromStdString(AsciiFolded(nick)));
  const QString base = "quillmere-" + QString::fromLatin1(hash.result().toHex().left(24));
#ifndef _WIN32
  return QString::fromStdString(NameDirectory(dir)) + "/" + base;
#else
  return base;
#endif
}

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {}

InstanceChannel::~InstanceChannel() = default;

ChannelOutcome InstanceChannel::Listen(const QString& name, std::function<void()> show) {
  show_ = std::move(show);
  delete server_;
  server_ = nullptr;
  if (TakenByAnotherUser(name)) return ChannelOutcome::OtherUser;
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // The account's files are ours, so a socket of ours still there was left
  // by a run that was killed.
  QLocalServer::removeServer(name);
  if (!server_->listen(name)) return TakenByAnotherUser(name) ? ChannelOutcome::OtherUser : ChannelOutcome::NoAnswer;
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      // Another user's process learns nothing and shows nothing.
      if (!OursOnTheOtherEnd(*socket)) {
        socket->abort();
        socket->deleteLater();
        continue;
      }
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) return;
        const QByteArray line = socket->readLine(64);
        if (line == kShowRequest) {
          socket->write(kShown);
          socket->flush();
          if (show_) show_();
        }
        socket->disconnectFromServer();
      });
    }
  });
  return ChannelOutcome::Done;
}

ChannelOutcome InstanceChannel::AskToShow(const QString& name, int waitMs) {
  if (TakenByAnotherUser(name)) return ChannelOutcome::OtherUser;
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(waitMs)) return ChannelOutcome::NoAnswer;
  if (!OursOnTheOtherEnd(socket)) {
    socket.abort();
    return ChannelOutcome::OtherUser;
  }
  socket.write(kShowRequest);
  if (!socket.waitForBytesWritten(waitMs)) return ChannelOutcome::NoAnswer;
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(waitMs)) return ChannelOutcome::NoAnswer;
  }
  return socket.readLine(64) == kShown ? ChannelOutcome::Done : ChannelOutcome::NoAnswer;
}

std::string InstanceChannel::OtherUserText(const QString& name) {
  std::string owner;
#ifndef _WIN32
  if (const long uid = NameOwner(name); uid >= 0) owner = "（uid " + std::to_string(uid) + "）";
#endif
  return "本程序的通信名称“" + name.toStdString() + "”被另一个用户" + owner +
         "占用，未与其通信；再次启动本卖家时无法唤出已运行的窗口。";
}

}  // namespace qm
