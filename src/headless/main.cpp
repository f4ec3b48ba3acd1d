#include "headless/runner.h"

int main(int argc, char** argv) { return qm::RunHeadless(argc, argv); }
