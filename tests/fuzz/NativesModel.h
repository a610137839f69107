// What the natives should do, as a plain model: pools by full name, each a
// reference table and the path of its file, and the pool files the model has
// saved. Each native's result and the text it writes back come from here.
#pragma once

#include <algorithm>
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

  // False when the file could not be read: a refused name, or scriptfiles/
  // itself, a directory. A file that cannot be read binds nothing, so that no
  // save replaces it; a missing file is no failure.
  bool Load(const std::string& name, const std::string& fileName) {
    ModelPool& pool = pools[name];
    pool.path = reference::BoundPath(fileName);
    if (pool.path == "scriptfiles/") pool.path.clear();
    if (pool.path.empty()) return false;
    auto file = files.find(pool.path);
    if (file == files.end()) return true;
    pool.table.Clear();
    for (const auto& r : reference::ReadRecords(file->second))
      pool.table.Access(r.first) = r.second;
    return true;
  }

  // Only directly under scriptfiles/ can a file be made: the tests make no
  // other directory, and scriptfiles/ itself is one. Whether it was written.
  bool Save(ModelPool& pool) {
    const std::string& path = pool.path;
    const bool direct = path.rfind("scriptfiles/", 0) == 0 && path.size() > 12 &&
                        path.find('/', 12) == std::string::npos;
    if (direct) files[path] = reference::WriteRecords(pool.table.Ordered());
    return direct;
  }

  // Counters: 64-bit sums reduced to 32 bits; two accesses to the table when
  // starting or refusing, three when counting. Returns whether it counted.
  static bool Count(ReferenceTable& table, const std::string& key, int64_t step) {
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
