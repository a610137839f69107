// What the natives should do, as a plain model: pools by full name, each a
// reference table and the path of its file, and the pool files the model has
// saved. Each native's result and the text it writes back come from here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "ReferenceFile.h"
#include "ReferenceTable.h"

struct ModelPool {
  ReferenceTable table;
  std::string path;  // "" when no file is bound
};

class NativesModel {
 public:
  std::map<std::string, ModelPool> pools;
  std::map<std::string, std::string> files;  // bound path -> bytes saved there

  ModelPool* Find(const std::string& name) {
    auto it = pools.find(name);
    return it == pools.end() ? nullptr : &it->second;
  }

  void Load(const std::string& name, const std::string& fileName) {
    ModelPool& pool = pools[name];
    pool.path = reference::BoundPath(fileName);
    // scriptfiles/ itself is a directory: a file that cannot be read binds
    // nothing, so that no save replaces it.
    if (pool.path == "scriptfiles/") pool.path.clear();
    auto file = files.find(pool.path);
    if (pool.path.empty() || file == files.end()) return;
    pool.table.Clear();
    for (const auto& r : reference::ReadRecords(file->second))
      pool.table.Access(r.first) = r.second;
  }

  // Only directly under scriptfiles/ can a file be made: the tests make no
  // other directory, and scriptfiles/ itself is one.
  void Save(ModelPool& pool) {
    const std::string& path = pool.path;
    const bool direct = path.rfind("scriptfiles/", 0) == 0 && path.size() > 12 &&
                        path.find('/', 12) == std::string::npos;
    if (direct) files[path] = reference::WriteRecords(pool.table.Ordered());
  }

  // Counters: 64-bit sums reduced to 32 bits; two accesses to the table when
  // starting or refusing, three when counting. Returns whether it counted.
  static bool Count(ReferenceTable& table, const std::string& key, int64_t step) {
    std::string& value = table.Access(key);
    bool counted = true;
    if (value.empty()) {
      value = AsStoredInt(step);
    } else if (value.find_first_not_of("0123456789") == std::string::npos) {
      int64_t n = 0;
      for (char c : value) n = n > 2147483647 ? n : n * 10 + (c - '0');
      value = AsStoredInt((n > 2147483647 ? 2147483647 : n) + step);
    } else {
      counted = false;
    }
    table.Access(key);
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
