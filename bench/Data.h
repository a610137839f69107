// Deterministic test data shared by the benchmarks.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The kinds of keys scripts use: random names, sequential ids ("0", "1", ...)
// and prefixed ids ("user_0", "user_1", ...). The old key hash folds the
// last two onto few values.
enum class KeySet { Random, Ids, Users };
const char* Label(KeySet set);

// n distinct keys of the set; the first n of a longer list are the same.
// Random names have 8 to 32 bytes.
const std::vector<std::string>& Keys(KeySet set, size_t n);
const std::vector<std::string>& Keys(size_t n);  // random names
// Keys(set, n) in a fixed random order: lookups do not follow insertion.
const std::vector<std::string>& Shuffled(KeySet set, size_t n);
// n keys of the set that Keys(set, n) lacks, in a fixed random order.
const std::vector<std::string>& Missing(KeySet set, size_t n);
// n values of 4 to 16 bytes.
const std::vector<std::string>& Values(size_t n);
// Bytes currently allocated from the C heap.
size_t HeapInUse();
