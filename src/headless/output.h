#pragma once
// The runner's standard output: one line per event, with the local time in
// front, and no text from the platform able to end a line or reach the
// terminal as a control sequence.
#include <string>

namespace qm {

// Control characters (C0, DEL and the C1 range), bidirectional controls, the
// line and paragraph separators and the backslash as escapes.
std::string EscapedForOutput(const std::string& line);

// "HH:MM:SS text", escaped, flushed.
void PrintLine(const std::string& line);
// The escaped text alone, for output that scripts read as it is.
void PrintBareLine(const std::string& line);

}  // namespace qm
