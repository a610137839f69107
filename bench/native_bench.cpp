// A native call through our host, with short strings, against the bare pool
// operation it wraps; and HGet against a plain native written the usual way.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "HashPool.h"
#include "PluginHost.h"
#include "Script.h"
#include "amxplugin.h"

namespace {

// Natives are called straight through their registered pointers with a
// ready parameter array, as a server does, so that only the plugin's own
// work is timed.
struct Loaded {
  Loaded() {
    Script::InstallApi(host);
    host.Load();
    host.AmxLoad(script.amx());
    name = script.Str("scores");
    key = script.Str("alice");
    text = script.Str("12345");
    dest = script.Array(kDestCells);
    script.Call("HLoad", {name, script.Str("bench-native.txt")});
    script.Call("HAdd", {name, key, text});
    journaled = script.Str("journaled");
    script.Call("HLoad", {journaled, script.Str("bench-journaled.txt"), 1});
    for (size_t length : {10, 120}) {
      cell k = script.Str(ValueKey(length));
      script.Call("HAdd", {name, k, script.Str(std::string(length, 'v'))});
      valueKeys[length] = k;
    }
  }
  static std::string ValueKey(size_t length) { return "value" + std::to_string(length); }
  static const size_t kDestCells = 128;
  PluginHost host;
  Script script;
  cell name, key, text, dest, journaled;
  std::unordered_map<size_t, cell> valueKeys;
};

Loaded& Plugin() {
  static Loaded loaded;
  return loaded;
}

CHashPool& Bare() {
  static CHashPool pool("scores");
  pool.Add("alice", "12345");
  return pool;
}

void HGetNative(benchmark::State& state) {
  Loaded& p = Plugin();
  AMX_NATIVE native = p.script.amx()->natives.at("HGet");
  const cell params[] = {12, p.name, p.key, p.dest};
  for (auto _ : state) benchmark::DoNotOptimize(native(p.script.amx(), params));
}

void HGetBare(benchmark::State& state) {
  CHashPool& pool = Bare();
  for (auto _ : state) benchmark::DoNotOptimize(pool.Get("alice"));
}

void HAddIntNative(benchmark::State& state) {
  Loaded& p = Plugin();
  AMX_NATIVE native = p.script.amx()->natives.at("HAddInt");
  const cell params[] = {12, p.name, p.key, 12345};
  for (auto _ : state) benchmark::DoNotOptimize(native(p.script.amx(), params));
}

void HAddIntBare(benchmark::State& state) {
  CHashPool& pool = Bare();
  for (auto _ : state) benchmark::DoNotOptimize(pool.Add("alice", "12345"));
}

void HIncNative(benchmark::State& state) {
  Loaded& p = Plugin();
  p.script.Call("HAdd", {p.name, p.key, p.text});
  AMX_NATIVE native = p.script.amx()->natives.at("HInc");
  const cell params[] = {8, p.name, p.key};
  for (auto _ : state) benchmark::DoNotOptimize(native(p.script.amx(), params));
}

void HIncBare(benchmark::State& state) {
  CHashPool& pool = Bare();
  for (auto _ : state) benchmark::DoNotOptimize(pool.Inc("alice", 1));
}

// HAdd and HInc on a journaled pool, against the same calls on one that is not.
void Change(benchmark::State& state, const char* native, bool journaled) {
  Loaded& p = Plugin();
  const cell pool = journaled ? p.journaled : p.name;
  p.script.Call("HAdd", {pool, p.key, p.text});
  AMX_NATIVE call = p.script.amx()->natives.at(native);
  const cell add[] = {12, pool, p.key, p.text};
  const cell inc[] = {8, pool, p.key};
  const cell* params = std::string(native) == "HAdd" ? add : inc;
  for (auto _ : state) benchmark::DoNotOptimize(call(p.script.amx(), params));
}

// HGet as a plain native would do it: stack buffers, std::unordered_map, and
// the destination's size handed to amx_SetString: from the fourth argument
// when the script passes one, else the size it is known to declare.
struct Peer {
  explicit Peer(void** api)
      : getAddr(reinterpret_cast<decltype(getAddr)>(api[kAmxGetAddr])),
        getString(reinterpret_cast<decltype(getString)>(api[kAmxGetString])),
        setString(reinterpret_cast<decltype(setString)>(api[kAmxSetString])) {}
  int (*getAddr)(AMX*, cell, cell**);
  int (*getString)(char*, const cell*, int, size_t);
  int (*setString)(cell*, const char*, int, int, size_t);
  std::unordered_map<std::string, std::unordered_map<std::string, std::string>> pools;
};

Peer* g_peer = nullptr;

bool PeerString(AMX* amx, cell address, char* buffer, size_t size) {
  cell* source = nullptr;
  if (g_peer->getAddr(amx, address, &source) != AMX_ERR_NONE) return false;
  return g_peer->getString(buffer, source, 0, size) == AMX_ERR_NONE;
}

cell PeerHGet(AMX* amx, const cell* params) {
  char name[128], key[128];
  if (!PeerString(amx, params[1], name, sizeof name)) return 0;
  if (!PeerString(amx, params[2], key, sizeof key)) return 0;
  auto pool = g_peer->pools.find(name);
  if (pool == g_peer->pools.end()) return 0;
  const std::string& value = pool->second[key];
  cell* dest = nullptr;
  if (g_peer->getAddr(amx, params[3], &dest) != AMX_ERR_NONE) return 0;
  const size_t size = params[0] / cell(sizeof(cell)) >= 4 ? size_t(params[4]) : Loaded::kDestCells;
  g_peer->setString(dest, value.c_str(), 0, 0, size);
  return 1;
}

Peer& ThePeer() {
  static Peer peer = [] {
    Peer p(Plugin().host.amxFunctions);
    auto& pool = p.pools["scores"];
    pool["alice"] = "12345";
    for (size_t length : {10, 120}) pool[Loaded::ValueKey(length)] = std::string(length, 'v');
    return p;
  }();
  g_peer = &peer;
  return peer;
}

// HGet of a value of that length; `sized` passes the destination's cell
// count as a fourth argument.
void HGetValue(benchmark::State& state, size_t length, bool sized, bool peer) {
  Loaded& p = Plugin();
  ThePeer();
  AMX_NATIVE native = peer ? PeerHGet : p.script.amx()->natives.at("HGet");
  const cell params[] = {sized ? 16 : 12, p.name, p.valueKeys.at(length), p.dest,
                         cell(Loaded::kDestCells)};
  for (auto _ : state) benchmark::DoNotOptimize(native(p.script.amx(), params));
  if (p.script.Text(p.dest) != std::string(length, 'v')) state.SkipWithError("wrong value");
}

int Register() {
  for (size_t length : {10, 120}) {
    for (bool sized : {false, true}) {
      const std::string group =
          "Native/HGet" + std::to_string(length) + (sized ? "sized" : "unsized") + "/";
      benchmark::RegisterBenchmark((group + "native").c_str(), HGetValue, length, sized, false);
      benchmark::RegisterBenchmark((group + "peer").c_str(), HGetValue, length, sized, true);
    }
  }
  benchmark::RegisterBenchmark("Native/HGet/native", HGetNative);
  benchmark::RegisterBenchmark("Native/HGet/bare", HGetBare);
  benchmark::RegisterBenchmark("Native/HAddInt/native", HAddIntNative);
  benchmark::RegisterBenchmark("Native/HAddInt/bare", HAddIntBare);
  benchmark::RegisterBenchmark("Native/HInc/native", HIncNative);
  benchmark::RegisterBenchmark("Native/HInc/bare", HIncBare);
  for (const char* native : {"HAdd", "HInc"}) {
    const std::string group = std::string("Journal/") + native + "/";
    benchmark::RegisterBenchmark((group + "journaled").c_str(), Change, native, true);
    benchmark::RegisterBenchmark((group + "unjournaled").c_str(), Change, native, false);
  }
  return 0;
}

const int registered = Register();

}  // namespace
