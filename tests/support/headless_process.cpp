#include "support/headless_process.h"

#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

pid_t StartHeadless(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::vector<char*> argv{const_cast<char*>(QM_HEADLESS_BIN)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QM_HEADLESS_BIN, argv.data());
    _exit(127);
  }
  return pid;
}

HeadlessRun RunHeadless(const std::vector<std::string>& args, const std::string& input, int stopAfterMs) {
  int in[2], out[2];
  if (pipe(in) != 0) return {};
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    return {};
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    std::vector<char*> argv{const_cast<char*>(QM_HEADLESS_BIN)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QM_HEADLESS_BIN, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  bool written = input.empty() || write(in[1], input.data(), input.size()) == static_cast<ssize_t>(input.size());
  close(in[1]);
  if (stopAfterMs >= 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(stopAfterMs));
    kill(pid, SIGTERM);
  }
  HeadlessRun run;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) run.output.append(buf, static_cast<size_t>(n));
  close(out[0]);
  run.exitCode = WaitForExit(pid);
  if (!written) run.output += "\n(standard input not written)";
  return run;
}

int WaitForExit(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace qm::test
