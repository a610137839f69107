// Arbitrary bytes as a pool file. The first load must give exactly the
// records the reader's rules find, in the table's published order; the save
// must write exactly what the writer's rules keep of them; a second load must
// give back every record the writer kept.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "FuzzDirectory.h"
#include "HashPool.h"
#include "ReferenceFile.h"
#include "ReferenceTable.h"

namespace {

using reference::Record;

std::vector<Record> Entries(const CHashPool& pool) {
  std::vector<Record> all;
  for (auto* e = pool.Table().first(); e; e = pool.Table().next(e)) {
    all.emplace_back(std::string(e->key(), e->keyLen), e->value.c_str());
  }
  return all;
}

// Later records win, as they do when a file is loaded.
std::map<std::string, std::string> Latest(const std::vector<Record>& records) {
  std::map<std::string, std::string> latest;
  for (const Record& r : records) latest[r.first] = r.second;
  return latest;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterFuzzDirectory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  WriteFile("scriptfiles/f.txt", bytes);

  CHashPool first("first");
  first.SetFileName("f.txt");
  FUZZ_CHECK(first.Load() == 1, "load");
  ReferenceTable model;
  for (const Record& r : reference::ReadRecords(bytes)) model.Access(r.first) = r.second;
  const std::vector<Record> loaded = Entries(first);
  FUZZ_CHECK(loaded == model.Ordered(), "%zu entries loaded, %zu expected", loaded.size(),
             model.size());
  FUZZ_CHECK(first.Table().bucket_count() == model.bucket_count(), "bucket count");

  FUZZ_CHECK(first.Save() == 1, "save");
  std::string saved;
  FUZZ_CHECK(ReadFile("scriptfiles/f.txt", saved), "saved file");
  const std::string written = reference::WriteRecords(loaded);
  FUZZ_CHECK(saved == written, "saved %zu bytes, the writer keeps %zu", saved.size(),
             written.size());

  CHashPool second("second");
  second.SetFileName("f.txt");
  FUZZ_CHECK(second.Load() == 1, "second load");
  std::map<std::string, std::string> kept;
  uint32_t unwritten = 0;
  for (const Record& r : loaded) {
    if (r.second.empty()) continue;
    if (!reference::Writable(r)) {
      ++unwritten;
      continue;
    }
    kept[reference::LineText(r.first)] = reference::LineText(r.second);
  }
  FUZZ_CHECK(first.Unwritten() == unwritten, "%u entries not written, %u expected",
             first.Unwritten(), unwritten);
  FUZZ_CHECK(Latest(Entries(second)) == kept, "second load");
  FUZZ_CHECK(second.Table().size() == kept.size(), "second load size");
  return 0;
}
