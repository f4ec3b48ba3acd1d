#include "util/input_line.h"

#include <windows.h>

#include "util/stop.h"

namespace qm {

LineRead ReadInputLine(std::string* line, std::size_t limit) {
  line->clear();
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return LineRead::Ended;
  const bool console = GetFileType(input) == FILE_TYPE_CHAR;
  for (;;) {
    if (StopRequested()) return LineRead::Stopped;
    // A console is waited on in short slices, so that Ctrl+C ends the wait;
    // a pipe's read returns when the writer writes or closes.
    if (console && WaitForSingleObject(input, 100) == WAIT_TIMEOUT) continue;
    char c = 0;
    DWORD n = 0;
    if (!ReadFile(input, &c, 1, &n, nullptr) || n == 0) return line->empty() ? LineRead::Ended : LineRead::Ok;
    if (c == '\n') return LineRead::Ok;
    if (line->size() >= limit) return LineRead::TooLong;
    line->push_back(c);
  }
}

}  // namespace qm
