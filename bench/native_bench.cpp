// A native call through our host, with short strings, against the bare pool
// operation it wraps.
#include <benchmark/benchmark.h>

#include <memory>

#include "HashPool.h"
#include "PluginHost.h"
#include "Script.h"

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
    dest = script.Array(64);
    script.Call("HLoad", {name, script.Str("bench-native.txt")});
    script.Call("HAdd", {name, key, text});
  }
  PluginHost host;
  Script script;
  cell name, key, text, dest;
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

int Register() {
  benchmark::RegisterBenchmark("Native/HGet/native", HGetNative);
  benchmark::RegisterBenchmark("Native/HGet/bare", HGetBare);
  benchmark::RegisterBenchmark("Native/HAddInt/native", HAddIntNative);
  benchmark::RegisterBenchmark("Native/HAddInt/bare", HAddIntBare);
  benchmark::RegisterBenchmark("Native/HInc/native", HIncNative);
  benchmark::RegisterBenchmark("Native/HInc/bare", HIncBare);
  return 0;
}

const int registered = Register();

}  // namespace
