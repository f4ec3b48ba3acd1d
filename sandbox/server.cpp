#include "server.h"

#include <sys/socket.h>

namespace qm::sandbox {

namespace {

// A plain picture for the seller's avatar address.
const char* const kAvatarSvg =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"80\" height=\"80\">"
    "<rect width=\"80\" height=\"80\" rx=\"12\" fill=\"#ff7a1a\"/>"
    "<text x=\"40\" y=\"52\" font-size=\"36\" text-anchor=\"middle\" fill=\"#fff\">店</text></svg>";

}  // namespace

void WideServer::WidenBacklog(int backlog) {
  // Listening again on a listening socket only changes its backlog.
  ::listen(svr_sock_, backlog);
}

SandboxServer::SandboxServer(const ServerOptions& options)
    : options_(options), ctx_(std::make_unique<Context>(options.seed, options.trades)) {
  ctx_->baseLatencyMs = options.latencyMs;
  ctx_->quota.Set(options.quota, ctx_->clock.Now());
  const int threads = options.threads > 0 ? options.threads : 64;
  server_.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
  server_.set_keep_alive_max_count(1000);
  server_.set_tcp_nodelay(true);
  server_.set_read_timeout(30);
  server_.set_write_timeout(30);
  server_.set_payload_max_length(8 * 1024 * 1024);

  RegisterGateway(server_, *ctx_);
  RegisterApiTool(server_, *ctx_);
  RegisterOAuth(server_, *ctx_);
  RegisterRatePage(server_, *ctx_);
  RegisterAdmin(server_, *ctx_);
  server_.Get(R"(/avatar/\d+\.svg)", Served(*ctx_, [](const httplib::Request&, httplib::Response& res) {
                res.set_content(kAvatarSvg, "image/svg+xml");
              }));
  server_.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    res.status = 500;
    res.set_content("<html><body>internal error</body></html>", "text/html; charset=utf-8");
  });
}

SandboxServer::~SandboxServer() { Stop(); }

int SandboxServer::Bind() {
  int port = options_.port;
  if (port == 0) {
    port = server_.bind_to_any_port("127.0.0.1");
  } else if (!server_.bind_to_port("127.0.0.1", port)) {
    port = 0;
  }
  if (port < 0) port = 0;
  if (port > 0) server_.WidenBacklog(1024);
  ctx_->port = port;
  return port;
}

bool SandboxServer::Run() { return server_.listen_after_bind(); }

void SandboxServer::Stop() {
  ctx_->Stop();
  server_.stop();
  // Clients keep their connections open between requests; without this the
  // server would wait out each one's keep-alive time before it ends.
  if (ctx_->port > 0) EndIdleConnections(ctx_->port);
}

}  // namespace qm::sandbox
