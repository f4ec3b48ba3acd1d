#pragma once
// The process's heap.

namespace qm {

// Has every thread allocate from one heap. With a heap per thread, what a
// thread frees stays with that thread: after a large load the worker's and
// the listings' heaps keep tens of megabytes that the window thread never
// gets to use. Call before the second thread starts.
void UseOneHeap();

}  // namespace qm
