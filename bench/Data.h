// Deterministic test data shared by the benchmarks.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// n distinct keys of 8 to 32 bytes.
const std::vector<std::string>& Keys(size_t n);
// n values of 4 to 16 bytes.
const std::vector<std::string>& Values(size_t n);
// Bytes currently allocated from the C heap.
size_t HeapInUse();
