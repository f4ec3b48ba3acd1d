#include "util/heap.h"

#include <cstdlib>  // defines __GLIBC__ where glibc is the C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace qm {

void UseOneHeap() {
#if defined(__GLIBC__)
  mallopt(M_ARENA_MAX, 1);
#endif
}

}  // namespace qm
