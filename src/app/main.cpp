// quillmere [--data-dir DIR] [--platform URL] [--headless ...]
#include "app/app.h"

int main(int argc, char** argv) { return qm::RunApp(argc, argv); }
