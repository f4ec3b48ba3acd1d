#include "receivers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm::test {

RobotReceiver::RobotReceiver() {
  server_.Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
    int stall = 0;
    bool fail = false;
    std::string reply = R"({"errcode":0,"errmsg":"ok"})";
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++requests_[req.path];
      stall = stall_[req.path];
      if (failFirst_[req.path] > 0) {
        --failFirst_[req.path];
        fail = true;
      }
      if (reply_.count(req.path)) reply = reply_[req.path];
    }
    if (stall > 0) std::this_thread::sleep_for(std::chrono::milliseconds(stall));
    if (fail) {
      res.status = 500;
      res.set_content("busy", "text/plain");
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Arrival a{req.path, {}, req.body, req.get_header_value("Content-Type")};
      for (const auto& [k, v] : req.params) a.params.emplace(k, v);
      arrivals_.push_back(std::move(a));
    }
    res.set_content(reply, "application/json");
  });
  port_ = server_.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  while (port_ > 0 && !server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

RobotReceiver::~RobotReceiver() {
  server_.stop();
  thread_.join();
}

void RobotReceiver::FailFirst(const std::string& path, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  failFirst_[path] = count;
}
void RobotReceiver::Stall(const std::string& path, int ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  stall_[path] = ms;
}
void RobotReceiver::Reply(const std::string& path, const std::string& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  reply_[path] = body;
}
std::vector<Arrival> RobotReceiver::Arrivals(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Arrival> out;
  for (const Arrival& a : arrivals_)
    if (a.path == path) out.push_back(a);
  return out;
}
int RobotReceiver::Requests(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_[path];
}

SmtpReceiver::SmtpReceiver() {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener_, 8) != 0) return;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      const int client = accept(listener_, nullptr, nullptr);
      if (client >= 0) Serve(client);
    }
  });
}

SmtpReceiver::~SmtpReceiver() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
}

std::vector<Mail> SmtpReceiver::Mails() {
  std::lock_guard<std::mutex> lock(mutex_);
  return mails_;
}

void SmtpReceiver::Serve(int client) {
  std::string buffer;
  auto say = [client](const std::string& line) { return send(client, line.data(), line.size(), MSG_NOSIGNAL) > 0; };
  auto readLine = [&](std::string* line) {
    for (;;) {
      const std::size_t end = buffer.find("\r\n");
      if (end != std::string::npos) {
        *line = buffer.substr(0, end);
        buffer.erase(0, end + 2);
        return true;
      }
      pollfd p{client, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) return false;
      char chunk[4096];
      const ssize_t n = recv(client, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
  };
  Mail mail;
  std::string line;
  say("220 receiver ESMTP\r\n");
  while (readLine(&line)) {
    const std::string verb = line.substr(0, 4);
    if (verb == "EHLO" || verb == "HELO") {
      say("250-receiver\r\n250 AUTH PLAIN\r\n");
    } else if (line.rfind("AUTH PLAIN", 0) == 0) {
      std::string credentials = line.size() > 11 ? line.substr(11) : "";
      if (credentials.empty()) {
        say("334 \r\n");
        if (!readLine(&credentials)) break;
      }
      mail.auth = DecodeBase64(credentials);
      say("235 ok\r\n");
    } else if (line.rfind("MAIL FROM:", 0) == 0) {
      mail.from = line.substr(10, line.find(' ', 10) == std::string::npos ? std::string::npos : line.find(' ', 10) - 10);
      say("250 ok\r\n");
    } else if (line.rfind("RCPT TO:", 0) == 0) {
      mail.to.push_back(line.substr(8));
      say("250 ok\r\n");
    } else if (verb == "DATA") {
      say("354 go on\r\n");
      while (readLine(&line) && line != ".") mail.data += line + "\r\n";
      {
        std::lock_guard<std::mutex> lock(mutex_);
        mails_.push_back(mail);
      }
      say("250 queued\r\n");
    } else if (verb == "QUIT") {
      say("221 bye\r\n");
      break;
    } else {
      say("250 ok\r\n");
    }
  }
  close(client);
}

std::string DecodeBase64(const std::string& text) {
  std::string out(text.size(), '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < 0) return {};
  out.resize(static_cast<std::size_t>(n));
  // EVP_DecodeBlock counts the padding as zero bytes.
  for (std::size_t pad = text.size(); pad > 0 && text[pad - 1] == '='; --pad) out.pop_back();
  return out;
}

int ClosedPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length);
  close(s);
  return ntohs(addr.sin_port);
}

}  // namespace qm::test
