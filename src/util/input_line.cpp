#include "util/input_line.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "util/stop.h"

namespace qm {

LineRead ReadInputLine(std::string* line, std::size_t limit) {
  line->clear();
  for (;;) {
    if (StopRequested()) return LineRead::Stopped;
    // Short slices, so that a stop signal ends the wait.
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&p, 1, 100);
    if (ready < 0 && errno != EINTR) return LineRead::Ended;
    if (ready <= 0) continue;
    char c = 0;
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return line->empty() ? LineRead::Ended : LineRead::Ok;
    if (c == '\n') return LineRead::Ok;
    if (line->size() >= limit) return LineRead::TooLong;
    line->push_back(c);
  }
}

}  // namespace qm
