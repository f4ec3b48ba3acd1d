#pragma once
// The process's heap.

namespace qm {

// Gives the pages of freed memory back to the operating system. A large load
// frees as much as it keeps (replies, the join's copy, the database cache).
void ReturnFreeMemory();

// Has every thread allocate from one heap. A heap per thread keeps what its
// thread freed for that thread alone: after a large load the worker's and the
// listings' heaps hold tens of megabytes that the window thread never gets to
// use. Call before the second thread starts.
void UseOneHeap();

}  // namespace qm
