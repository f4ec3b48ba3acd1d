#include "app/instance_channel.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#ifndef _WIN32
#include <unistd.h>
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
}  // namespace

QString InstanceSocketName(const std::string& dir, const std::string& nick) {
  // Section names compare without regard to ASCII case, as Config.ini does.
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(QByteArray::fromStdString(dir));
  hash.addData(QByteArray("\n", 1));
  hash.addData(QByteArray::fromStdString(AsciiFolded(nick)));
  QString name = "quillmere-";
#ifndef _WIN32
  name += QString::number(::getuid()) + "-";
#endif
  return name + QString::fromLatin1(hash.result().toHex().left(24));
}

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {}

InstanceChannel::~InstanceChannel() = default;

bool InstanceChannel::Listen(const QString& name, std::function<void()> show) {
  show_ = std::move(show);
  delete server_;
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // The account's files are ours, so a socket still there was left by a run
  // that was killed.
  QLocalServer::removeServer(name);
  if (!server_->listen(name)) return false;
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
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
  return true;
}

bool InstanceChannel::AskToShow(const QString& name, int waitMs) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(waitMs)) return false;
  socket.write(kShowRequest);
  if (!socket.waitForBytesWritten(waitMs)) return false;
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(waitMs)) return false;
  }
  return socket.readLine(64) == kShown;
}

}  // namespace qm
