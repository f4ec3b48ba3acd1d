#pragma once
// Starts build/bin/quillmere-headless as a process of its own, its output
// thrown away, for the benchmarks that kill or restart it.
#include <sys/types.h>

#include <string>
#include <vector>

namespace qm::test {

// The runner's pid, -1 when it could not be started.
pid_t StartHeadless(const std::vector<std::string>& args);
// Waits for the process; its exit code, -1 when a signal ended it.
int WaitForExit(pid_t pid);

struct HeadlessRun {
  int exitCode = -1;   // -1 when a signal ended it
  std::string output;  // standard output and error together
};
// Runs the runner to its end with `input` on its standard input; with
// `stopAfterMs` >= 0 it gets a SIGTERM that long after its start.
HeadlessRun RunHeadless(const std::vector<std::string>& args, const std::string& input = {}, int stopAfterMs = -1);

}  // namespace qm::test
