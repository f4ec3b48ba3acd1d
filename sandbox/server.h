#pragma once
// The sandbox marketplace as one HTTP server on a loopback port.
#include <httplib.h>

#include <memory>
#include <string>

#include "context.h"

namespace qm::sandbox {

struct ServerOptions {
  int port = 0;  // 0: any free port
  unsigned seed = 1;
  int trades = 60;
  int latencyMs = 0;
  int threads = 64;
  QuotaOptions quota;
};

// The HTTP library listens with a backlog of five, so that a burst of new
// connections loses SYNs and waits a second for the retry; this one listens
// again with room for many.
class WideServer : public httplib::Server {
 public:
  void WidenBacklog(int backlog);
};

class SandboxServer {
 public:
  explicit SandboxServer(const ServerOptions& options);
  ~SandboxServer();
  SandboxServer(const SandboxServer&) = delete;
  SandboxServer& operator=(const SandboxServer&) = delete;

  // Binds 127.0.0.1; the port, or 0 when binding failed.
  int Bind();
  // Serves until Stop(); true when it ran.
  bool Run();
  // From any thread (also a signal-waiting one).
  void Stop();

  Context& context() { return *ctx_; }

 private:
  ServerOptions options_;
  std::unique_ptr<Context> ctx_;
  WideServer server_;
};

}  // namespace qm::sandbox
