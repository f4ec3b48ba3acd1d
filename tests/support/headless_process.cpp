#include "support/headless_process.h"

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

int WaitForExit(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace qm::test
