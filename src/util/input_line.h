#pragma once
// One line typed or pasted on the program's standard input, read so that a
// stop request (util/stop.h) ends the wait. One file per system.
#include <cstddef>
#include <string>

namespace qm {

enum class LineRead { Ok, TooLong, Ended, Stopped };

// Reads up to the line's end (the "\n" not kept); TooLong once `limit` bytes
// came without one, Ended when the input closed before any byte.
LineRead ReadInputLine(std::string* line, std::size_t limit);

}  // namespace qm
