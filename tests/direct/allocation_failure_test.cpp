// Memory runs out at every single allocation of a fixed sequence of natives,
// and from every allocation on: nothing may escape into the host, the pools
// must stay whole, and once memory is back every native must work again.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FailingAllocator.h"
#include "HashPoolManager.h"
#include "LinkedPlugin.h"
#include "ScratchDirectory.h"
#include "Script.h"

namespace {

const int kFileEntries = 192;  // one more key makes the pool grow
const char kLongValue[] = "a value long enough that it cannot reuse the buffer of the short one";

std::string FileKey(int i) { return "key" + std::to_string(i); }
std::string FileValue(int i) { return "value" + std::to_string(i); }

std::string OriginalFile() {
  std::string text;
  for (int i = 0; i < kFileEntries; ++i) text += FileKey(i) + "\n" + FileValue(i) + "\n";
  return text;
}

// Key and value lines of a file the writer made.
std::map<std::string, std::string> Records(const std::string& text) {
  std::map<std::string, std::string> records;
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
  }
  for (size_t i = 0; i + 1 < lines.size(); i += 2) records[lines[i]] = lines[i + 1];
  return records;
}

bool IsInteger(const std::string& text) {
  const size_t digits = text.find_first_not_of('-') == 1 ? 1 : 0;
  return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

struct NativeCall {
  AMX_NATIVE native;
  std::vector<cell> params;
};

class AllocationFailure : public ScratchDirectory {
 protected:
  // One fresh plugin and script per run; every argument is in place before
  // allocations start to fail, so that only the plugin meets the failures.
  void Run(long succeed, long fail) {
    Write("scriptfiles/f.txt", OriginalFile());
    LinkedPlugin plugin;
    Script script;
    ASSERT_EQ(plugin.AmxLoad(script.amx()), 0);
    const std::vector<NativeCall> calls = Sequence(script);
    std::vector<cell> results(calls.size());

    FailAllocations(succeed, fail);
    for (size_t i = 0; i < calls.size(); ++i) {
      results[i] = calls[i].native(script.amx(), calls[i].params.data());
    }
    StopFailingAllocations();
    m_failed = FailedAllocations();

    EXPECT_EQ(script.amx()->violations, std::vector<std::string>{});
    CheckRegistry();
    CheckPool("p");
    CheckPool("q");
    EXPECT_EQ(List("scriptfiles"), std::vector<std::string>{"f.txt"}) << "no temporary file left";
    const auto saved = Records(Read("scriptfiles/f.txt"));
    for (int i = 0; i < kFileEntries; ++i) {
      if (i == 7) continue;  // deleted by the sequence
      EXPECT_EQ(saved.count(FileKey(i)), 1u) << "lost " << FileKey(i);
    }
    if (m_failed == 0) m_baseline = results;
    WorksAgain(script);
  }

  std::vector<NativeCall> Sequence(Script& s) {
    const cell dest = s.Array(256);
    const cell ref = s.Array(1);
    const cell p = s.Str("p"), q = s.Str("q");
    float half = 1.5f;
    cell halfCell;
    std::memcpy(&halfCell, &half, sizeof halfCell);
    auto call = [&](const char* name, std::vector<cell> args) {
      args.insert(args.begin(), cell(args.size() * sizeof(cell)));
      return NativeCall{s.amx()->natives.at(name), args};
    };
    return {
        call("HLoad", {p, s.Str("f.txt")}),
        call("HLoad", {q, s.Str("g.txt")}),
        call("HAdd", {p, s.Str("text"), s.Str("short")}),
        call("HAdd", {p, s.Str("text"), s.Str(kLongValue)}),  // the pool grows here
        call("HAddInt", {p, s.Str("n"), 42}),
        call("HAddFloat", {p, s.Str("f"), halfCell}),
        call("HGet", {p, s.Str("text"), dest}),
        call("HGet", {p, s.Str("missing"), dest}),
        call("HGetInt", {p, s.Str("n")}),
        call("HGetFloat", {p, s.Str("f"), ref}),
        call("HInc", {p, s.Str("n"), 5}),
        call("HInc", {p, s.Str("fresh")}),
        call("HDec", {p, s.Str("n"), 2}),
        call("HGetIndex", {p, 3, dest}),
        call("HAdd", {q, s.Str("qk"), s.Str(kLongValue)}),
        call("HDel", {p, s.Str(FileKey(7))}),
        call("HSave", {p}),
        call("HLoad", {p, s.Str("f.txt")}),
        call("HClose", {q}),
        call("HAdd", {p, s.Str(FileKey(7)), s.Str(FileValue(7))}),
        call("HSave", {p}),
    };
  }

  static void CheckRegistry() {
    uint32_t open = 0;
    auto& registry = CHashPoolManager::m_pHashes;
    for (auto* e = registry.first(); e; e = registry.next(e)) open += e->value ? 1 : 0;
    EXPECT_EQ(CHashPoolManager::m_uiHashes, open);
    EXPECT_EQ(registry.size(), open) << "an entry without a pool";
  }

  // Every entry is found again under its key, keys are unique, the count is
  // right, and each value is one the sequence or the file could have given.
  static void CheckPool(const char* name) {
    CHashPool* pool = CHashPoolManager::Find(name);
    if (!pool) return;
    auto& table = pool->Table();
    std::map<std::string, std::string> entries;
    uint32_t walked = 0;
    for (auto* e = table.first(); e; e = table.next(e), ++walked) {
      const std::string key(e->key(), e->keyLen);
      EXPECT_EQ(key.size(), std::strlen(e->key())) << name;
      EXPECT_TRUE(entries.emplace(key, e->value.c_str()).second) << "duplicate " << key;
    }
    EXPECT_EQ(walked, table.size()) << name;
    for (const auto& kv : entries) {
      const auto* found = table.find(kv.first.data(), kv.first.size());
      ASSERT_NE(found, nullptr) << kv.first << " is not where its hash puts it";
      EXPECT_EQ(std::string(found->value.c_str()), kv.second);
      EXPECT_TRUE(Plausible(kv.first, kv.second)) << kv.first << " = " << kv.second;
    }
  }

  static bool Plausible(const std::string& key, const std::string& value) {
    if (value.empty()) return true;
    if (key == "n" || key == "fresh") return IsInteger(value);
    if (key == "text") return value == "short" || value == kLongValue;
    if (key == "qk") return value == kLongValue;
    if (key == "f") return value == "1.500000";
    return key.rfind("key", 0) == 0 && value == "value" + key.substr(3);
  }

  // With memory back, the pool reloads exactly what is on disk and every
  // native does its job.
  void WorksAgain(Script& s) {
    const std::string before = Read("scriptfiles/f.txt");
    const cell p = s.Str("p");
    ASSERT_EQ(s.Call("HLoad", {p, s.Str("f.txt")}), 1);
    CHashPool* pool = CHashPoolManager::Find("p");
    ASSERT_NE(pool, nullptr);
    std::map<std::string, std::string> loaded;
    for (auto* e = pool->Table().first(); e; e = pool->Table().next(e)) {
      loaded[e->key()] = e->value.c_str();
    }
    EXPECT_EQ(loaded, Records(before));
    EXPECT_EQ(s.Call("HAdd", {p, s.Str("after"), s.Str("1")}), 1);
    EXPECT_EQ(s.Call("HInc", {p, s.Str("after"), 2}), 1);
    const cell dest = s.Array(16);
    EXPECT_EQ(s.Call("HGet", {p, s.Str("after"), dest}), 1);
    EXPECT_EQ(s.Text(dest), "3");
    EXPECT_EQ(s.Call("HSave", {p}), 1);
    EXPECT_EQ(Records(Read("scriptfiles/f.txt")).at("after"), "3");
    EXPECT_EQ(s.Call("HClose", {p}), 1);
  }

  long m_failed = 0;
  std::vector<cell> m_baseline;
};

TEST_F(AllocationFailure, EveryAllocationOnceAndFromEveryAllocationOn) {
  Run(LONG_MAX, 0);
  ASSERT_FALSE(m_baseline.empty());
  const std::vector<cell> baseline = m_baseline;
  for (long fail : {1L, LONG_MAX}) {
    long k = 0;
    for (;; ++k) {
      SCOPED_TRACE("allocation " + std::to_string(k) + (fail == 1 ? " fails" : " on fail"));
      m_baseline.clear();
      Run(k, fail);
      if (HasFatalFailure() || m_failed == 0) break;
    }
    EXPECT_EQ(m_baseline, baseline) << "a run without failures behaves as the first";
    EXPECT_GT(k, 200) << "the sequence allocates for every loaded entry";
  }
}

}  // namespace
