// quillmere-headless: the runner without windows (being built).
#include <cstdio>
int main() {
  std::puts("quillmere-headless: not yet available");
  return 1;
}
