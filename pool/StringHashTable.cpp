#include "StringHashTable.h"

namespace {

const uint32_t kBucketCounts[] = {
    53u,        97u,        193u,       389u,       769u,        1543u,       3079u,
    6151u,      12289u,     24593u,     49157u,     98317u,      196613u,     393241u,
    786433u,    1572869u,   3145739u,   6291469u,   12582917u,   25165843u,   50331653u,
    100663319u, 201326611u, 402653189u, 805306457u, 1610612741u, 3221225473u, 4294967291u,
};

}  // namespace

uint32_t BucketCountFor(uint64_t wanted) {
  for (uint32_t count : kBucketCounts) {
    if (count >= wanted) return count;
  }
  return kBucketCounts[sizeof kBucketCounts / sizeof kBucketCounts[0] - 1];
}
