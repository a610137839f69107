// Counters against 64-bit arithmetic: random stored texts (mostly digits, of
// any length, with or without a minus) and amounts, in pools of random size, so that the growth
// checks of every map access show in the order of the entries.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "FuzzDirectory.h"
#include "HashPool.h"
#include "NativesModel.h"

namespace {

// Input: other entries (two bytes), key, whether it is stored, the stored
// text (a choice byte, then a text, digits or a number), up or down, amount.
size_t Short(ByteReader& in) { return size_t(in.Byte()) | size_t(in.Byte()) << 8; }

std::string StoredText(ByteReader& in) {
  switch (in.Pick(4)) {
    case 0:
      return in.Text(64);
    case 1: {  // digits, sometimes very many, sometimes below zero
      std::string digits(Short(in) % 301, '0');
      for (char& c : digits) c = char('0' + in.Pick(10));
      return in.Pick(2) ? "-" + digits : digits;
    }
    default:
      return std::to_string(in.U32() >> in.Pick(32));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  CHashPool pool("p");
  ReferenceTable model;
  const int others = int(Short(in) % 401);
  for (int i = 0; i < others; ++i) {
    const std::string key = "o" + std::to_string(i);
    pool.Add(key.c_str(), "x");
    model.Access(key) = "x";
  }
  std::string key = in.Text(16);
  key.resize(std::strlen(key.c_str()));  // keys end at a zero byte too
  const bool present = in.Byte() & 1;
  std::string stored = StoredText(in);
  stored.resize(std::strlen(stored.c_str()));  // a pool text ends at a zero byte
  if (present) {
    pool.Add(key.c_str(), stored.c_str());
    model.Access(key) = stored;
  }
  const bool up = in.Byte() & 1;
  const uint32_t amount = in.U32();

  const int result = up ? pool.Inc(key.c_str(), amount) : pool.Dec(key.c_str(), int32_t(amount));

  // Two map accesses when starting or refusing, three when counting; only
  // the first can insert, so only the first two can grow the table.
  const int64_t step = up ? int64_t(amount) : -int64_t(int32_t(amount));
  const int expected = NativesModel::Count(model, key, step) ? 1 : 0;

  FUZZ_CHECK(result == expected, "result %d, expected %d", result, expected);
  std::vector<ReferenceTable::Record> entries;
  for (auto* e = pool.Table().first(); e; e = pool.Table().next(e)) {
    entries.emplace_back(std::string(e->key(), e->keyLen), e->value.c_str());
  }
  FUZZ_CHECK(entries == model.Ordered(), "entries differ; \"%s\" %s %u gave \"%s\"", stored.c_str(),
             up ? "+" : "-", amount, pool.Get(key.c_str()));
  FUZZ_CHECK(pool.Table().bucket_count() == model.bucket_count(), "bucket count %u, expected %zu",
             pool.Table().bucket_count(), model.bucket_count());
  return 0;
}
