// Makes the global allocation functions fail on demand, so that the pool's
// behaviour on memory exhaustion can be tested.
#pragma once

// After `succeed` more allocations, the next `fail` ones throw std::bad_alloc
// (and so nothrow forms return null).
void FailAllocations(long succeed, long fail);
void StopFailingAllocations();
long FailedAllocations();

class ScopedAllocationFailure {
 public:
  ScopedAllocationFailure(long succeed, long fail) { FailAllocations(succeed, fail); }
  ~ScopedAllocationFailure() { StopFailingAllocations(); }
};
