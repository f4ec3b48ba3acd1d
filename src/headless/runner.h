#pragma once
// The runner without windows. `quillmere --headless ...` and quillmere-headless
// both come here with their whole command line.
namespace qm {
int RunHeadless(int argc, char** argv);
}
