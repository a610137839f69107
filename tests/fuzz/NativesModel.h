// What the natives should do, as a plain model: pools by full name, each a
// reference table, the path of its file and of the journal it owns; the pool
// files the model has saved and the journals on disk. Each native's result
// and the text it writes back come from here. A journal holds the changes
// made on top of one version of its file, the one its pool last loaded or
// saved, and applies only to that version; on another it is set aside. A
// journal past 1 MB is rewritten; 200 calls cannot write that much, so that
// is not modelled.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "ReferenceFile.h"
#include "ReferenceTable.h"

struct ModelPool {
  ReferenceTable table;
  std::string path;     // "" when no file is bound
  std::string journal;  // "" when not journaled
  // What the file held when the pool last read or wrote it; "\n" for none.
  std::string version = "\n";
};

// A change since the file's version: a value, a deletion (an empty value, as
// no value is stored empty) or, with `clear`, the pool emptied.
struct ModelChange {
  std::string key, value;
  bool clear;
};

struct ModelJournal {
  bool missing = true;  // the version is no file at all
  std::string base;     // else the file's bytes
  std::vector<ModelChange> changes;
};

class NativesModel {
 public:
  std::map<std::string, ModelPool> pools;
  std::map<std::string, std::string> files;      // bound path -> bytes saved there
  std::map<std::string, ModelJournal> journals;  // by path
  std::vector<std::string> aside;                // journals set aside, by path

  // Whether `journal` applies to the file at `path` as it is now.
  bool Fits(const ModelJournal& journal, const std::string& path) const {
    const auto file = files.find(path);
    return file == files.end() ? journal.missing : !journal.missing && journal.base == file->second;
  }
  // A journal with nothing in it, for the file at `path` as it is now.
  ModelJournal Fresh(const std::string& path) const {
    ModelJournal journal;
    const auto file = files.find(path);
    journal.missing = file == files.end();
    if (!journal.missing) journal.base = file->second;
    return journal;
  }

  ModelPool* Find(const std::string& name) {
    auto it = pools.find(name);
    return it == pools.end() ? nullptr : &it->second;
  }

  // False when the file could not be read: a refused name, or scriptfiles/
  // itself, a directory. A file that cannot be read binds nothing, so that no
  // save replaces it; a missing file is no failure. With `journal`, false
  // also when the journal belongs to another pool or cannot be made.
  bool Load(const std::string& name, const std::string& fileName, bool journal) {
    ModelPool& pool = pools[name];
    pool.path = reference::BoundPath(fileName);
    const std::string journalPath = pool.path.empty() ? "" : pool.path + ".journal";
    if (!pool.journal.empty() && !(journal && pool.journal == journalPath)) {
      journals.erase(pool.journal);
      pool.journal.clear();
    }
    if (pool.path == "scriptfiles/") pool.path.clear();
    if (pool.path.empty()) {
      pool.journal.clear();  // kept on disk for a load that can read the file
      return false;
    }
    auto file = files.find(pool.path);
    pool.version = file == files.end() ? "\n" : file->second;
    if (file != files.end()) {
      pool.table.Clear();
      for (const auto& r : reference::ReadRecords(file->second))
        pool.table.Access(r.first) = r.second;
    }
    if (!journal) return true;
    if (pool.journal.empty()) {
      for (const auto& other : pools) {
        if (other.second.journal == journalPath) return false;
      }
      if (!Direct(pool.path)) return false;
      pool.journal = journalPath;
    }
    const bool kept = file == files.end() && pool.table.size() > 0;
    auto it = journals.find(journalPath);
    if (it == journals.end()) it = journals.emplace(journalPath, Fresh(pool.path)).first;
    ModelJournal& j = it->second;
    if (!j.changes.empty() && !Fits(j, pool.path)) {
      const std::string stale = journalPath + ".stale";
      const auto before = std::count_if(aside.begin(), aside.end(), [&](const std::string& a) {
        return a.compare(0, stale.size(), stale) == 0;
      });
      aside.push_back(stale + (before ? "." + std::to_string(before) : ""));
      j = Fresh(pool.path);
    }
    for (const auto& c : j.changes) {
      if (c.clear) {
        pool.table.Clear();
      } else if (c.value.empty()) {
        pool.table.Erase(c.key);
      } else {
        pool.table.Access(c.key) = c.value;
      }
    }
    if (j.changes.empty()) j = Fresh(pool.path);
    if (kept) {  // only the journal can hold them
      j.changes.assign(1, ModelChange{"", "", true});
      for (const auto& r : pool.table.Ordered()) {
        if (!r.second.empty()) j.changes.push_back(ModelChange{r.first, r.second, false});
      }
    }
    return true;
  }

  void Record(ModelPool& pool, const std::string& key, const std::string& value) {
    if (!pool.journal.empty()) journals[pool.journal].changes.push_back({key, value, false});
  }

  // The bytes it takes: the mark; then, once there are changes, a version
  // record, and each change as a check, a kind, LEB128 lengths and the texts.
  size_t JournalSize(const std::string& path) const {
    auto leb = [](size_t n) { return n < 0x80 ? 1 : n < 0x4000 ? 2 : 3; };
    const ModelJournal& j = journals.at(path);
    size_t size = 8 + (j.changes.empty() ? 0 : 4 + 1 + 1 + 1 + 12);
    for (const auto& c : j.changes) {
      size += 5;
      if (c.clear) continue;
      size += leb(c.key.size()) + c.key.size();
      if (!c.value.empty()) size += leb(c.value.size()) + c.value.size();
    }
    return size;
  }

  // Only directly under scriptfiles/ can a file or journal be made: the tests
  // make no other directory, and scriptfiles/ itself is one. Whether it was
  // written; a save empties the pool's journal.
  bool Save(ModelPool& pool) {
    if (!Direct(pool.path)) return false;
    pool.version = files[pool.path] = reference::WriteRecords(pool.table.Ordered());
    if (!pool.journal.empty()) journals[pool.journal] = Fresh(pool.path);
    return true;
  }

  static bool Direct(const std::string& path) {
    return path.rfind("scriptfiles/", 0) == 0 && path.size() > 12 &&
           path.find('/', 12) == std::string::npos;
  }

  // Counters: 64-bit sums reduced to 32 bits; two accesses to the table when
  // starting or refusing, three when counting. Returns whether it counted;
  // `result` gets the text stored.
  static bool Count(ReferenceTable& table, const std::string& key, int64_t step,
                    std::string* result = nullptr) {
    std::string& value = table.Access(key);
    const size_t sign = !value.empty() && value[0] == '-' ? 1 : 0;
    bool counted = true;
    if (value.empty()) {
      value = AsStoredInt(step);
    } else if (value.size() > sign &&
               value.find_first_not_of("0123456789", sign) == std::string::npos) {
      int64_t n = 0;  // saturated at the 32-bit ends
      for (char c : value.substr(sign)) n = std::min<int64_t>(n * 10 + (c - '0'), 1LL << 31);
      n = sign ? -n : std::min<int64_t>(n, 2147483647);
      value = AsStoredInt(n + step);
    } else {
      counted = false;
    }
    table.Access(key);
    if (result) *result = value;
    return counted;
  }

  static std::string AsStoredInt(int64_t n) {
    return std::to_string(int32_t(uint32_t(uint64_t(n))));
  }

  static int32_t ReadInt(const std::string& text) {
    const long long n = std::strtoll(text.c_str(), nullptr, 10);
    return n > INT32_MAX ? INT32_MAX : n < INT32_MIN ? INT32_MIN : int32_t(n);
  }

  static std::string FloatText(float f) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", double(f));
    return text;
  }
};
