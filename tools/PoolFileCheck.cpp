#include "PoolFileCheck.h"

#include <errno.h>

#include <cstdio>

#include "HashPool.h"
#include "Output.h"
#include "PoolFileReader.h"

namespace {

class Finder {
 public:
  explicit Finder(const char* path) : m_path(path) {}

  long found() const { return m_found; }

  // "PATH:LINE: " for one more finding.
  void At(uint64_t line) {
    ++m_found;
    std::printf("%s:%llu: ", m_path, static_cast<unsigned long long>(line));
  }

  void Blank(uint64_t line) {
    At(line);
    std::puts("a blank line where a key is expected; a load passes over it");
  }

  // Taken off or cut short: the text differs from the line's.
  void Text(const PoolFileReader::Line& line, const char* which) {
    if (line.returns > 0) {
      At(line.number);
      std::printf("%u carriage return%s at the end of the %s; a load takes %s off\n", line.returns,
                  line.returns > 1 ? "s" : "", which, line.returns > 1 ? "them" : "it");
    }
    if (line.cutAtZero) {
      At(line.number);
      std::printf("a zero byte in the %s; a load keeps only the %zu bytes before it\n", which,
                  line.len);
    }
  }

  void Key(uint64_t line, const char* key, size_t len) {
    At(line);
    std::fputs("key ", stdout);
    PrintText(stdout, key, len);
  }

 private:
  const char* m_path;
  long m_found = 0;
};

}  // namespace

long CheckPoolFile(const char* path, CHashPool& pool) {
  PoolFileReader file;
  if (const int error = file.Open(path)) {
    FailWith(path, error);
    return -1;
  }
  Finder find(path);
  // The line of each key's last value, for repeats and for empty values.
  StringHashTable<uint64_t> last;
  uint64_t expected = 1;  // the line the next key would be on
  while (file.Next()) {
    const PoolFileReader::Line &key = file.Key(), &value = file.Value();
    for (; expected < key.number; ++expected) find.Blank(expected);
    expected = value.number + 1;
    find.Text(key, "key");
    find.Text(value, "value");
    bool inserted = false;
    auto* seen = last.find_or_insert(key.text, key.len, &inserted);
    if (!seen) {
      FailWith(path, ENOMEM);
      return -1;
    }
    if (!inserted) {
      find.Key(key.number, key.text, key.len);
      std::printf(" repeats the key of line %llu; the later value wins\n",
                  static_cast<unsigned long long>(seen->value - 1));
    }
    seen->value = value.number;
  }
  if (file.Error()) {
    FailWith(path, file.Error());
    return -1;
  }
  const PoolFileReader::Line* dangling = file.Dangling();
  for (; expected <= file.Lines(); ++expected) {
    if (dangling && dangling->number == expected) {
      find.Key(expected, dangling->text, dangling->len);
      std::puts(" has no value line after it; a load drops it");
    } else {
      find.Blank(expected);
    }
  }
  for (auto* e = pool.Table().first(); e; e = pool.Table().next(e)) {
    if (CHashPool::Saves(*e)) continue;
    const auto* seen = last.find(e->key(), e->keyLen);
    find.Key(seen ? seen->value : 0, e->key(), e->keyLen);
    std::puts(e->value.empty() ? " has an empty value; a load keeps it, a save leaves it out"
                               : " cannot be written as a pair of lines; a save leaves it out");
  }
  return find.found();
}
