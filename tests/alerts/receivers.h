#pragma once
// Local stand-ins for the places alerts go: an HTTP server that plays the
// DingTalk and WeCom robots and a webhook, and a small SMTP server. Both
// listen on loopback and record what arrived.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

struct Arrival {
  std::string path;
  std::multimap<std::string, std::string> params;
  std::string body;
  std::string contentType;
};

class RobotReceiver {
 public:
  RobotReceiver();
  ~RobotReceiver();
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // The next `count` requests to `path` get a 500.
  void FailFirst(const std::string& path, int count);
  // Requests to `path` wait this long before the answer.
  void Stall(const std::string& path, int ms);
  // Requests to `path` get this reply body (a robot's refusal).
  void Reply(const std::string& path, const std::string& body);
  std::vector<Arrival> Arrivals(const std::string& path);
  int Requests(const std::string& path);

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
  std::mutex mutex_;
  std::map<std::string, int> failFirst_, stall_, requests_;
  std::map<std::string, std::string> reply_;
  std::vector<Arrival> arrivals_;
};

struct Mail {
  std::string auth;  // the AUTH PLAIN credentials, decoded
  std::string from;
  std::vector<std::string> to;
  std::string data;
};

class SmtpReceiver {
 public:
  SmtpReceiver();
  ~SmtpReceiver();
  int Port() const { return port_; }
  std::vector<Mail> Mails();

 private:
  void Serve(int client);
  int listener_ = -1;
  int port_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Mail> mails_;
};

std::string DecodeBase64(const std::string& text);
// A loopback port nothing listens on.
int ClosedPort();

}  // namespace qm::test
