// quillmere-sandbox: the stand-in marketplace (being built).
#include <cstdio>
int main() {
  std::puts("quillmere-sandbox: not yet serving");
  return 1;
}
