#pragma once
// The desktop tests link this end of the program in place of the process
// exit (src/app/shutdown.cpp): EndProgram hands its code to the recorder.
#include <functional>

namespace qm::test {

// The recorder of EndProgram's codes; nullptr removes it. An EndProgram with
// no recorder aborts the test program, so an end no test expected fails it.
void RecordProgramEnds(std::function<void(int)> recorder);

}  // namespace qm::test
