#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Child.h"
#include "PluginHost.h"
#include "Script.h"

namespace {

using Lines = std::vector<std::string>;

TEST(Entry, SupportsNativesAndInterfaceVersion) {
  PluginHost host;
  EXPECT_EQ(host.Supports(), 0x00010200u);
  ASSERT_TRUE(host.Load());
  host.Unload();
  EXPECT_EQ(host.Supports(), 0x00010200u);
}

TEST(Entry, LoadAndUnloadLogExactlyTwoLines) {
  PluginHost host;
  EXPECT_TRUE(host.Load());
  EXPECT_EQ(PluginHost::log(), Lines{"Plugin pairvault.dll got loaded."});
  host.Unload();
  EXPECT_EQ(PluginHost::log(),
            (Lines{"Plugin pairvault.dll got loaded.", "Plugin pairvault.dll got unloaded."}));
}

TEST(Entry, LoadTakesTheLogFunctionFromEntryZero) {
  static Lines mine;
  struct Local {
    static void Log(const char* format, ...) { mine.push_back(format); }
  };
  PluginHost host;
  host.pluginData[0] = reinterpret_cast<void*>(&Local::Log);
  ASSERT_TRUE(host.Load());
  EXPECT_EQ(mine, Lines{"Plugin pairvault.dll got loaded."});
  EXPECT_TRUE(PluginHost::log().empty());
}

TEST(Entry, AmxUnloadReturnsZero) {
  PluginHost host;
  ASSERT_TRUE(host.Load());
  int scriptMemory[64] = {};
  EXPECT_EQ(host.AmxUnload(reinterpret_cast<AMX*>(scriptMemory)), 0);
  EXPECT_EQ(PluginHost::log().size(), 1u);
}

// Hosts call the entry points in orders nobody planned; the host's tables
// may be gone after Unload. Nothing may crash, leak or reach the tables.
TEST(Entry, CallsOutOfOrderTouchNothing) {
  PluginHost host;
  Script::InstallApi(host);
  host.Unload();
  Script early;
  EXPECT_EQ(host.AmxLoad(early.amx()), AMX_ERR_INIT);
  EXPECT_TRUE(early.amx()->registered.empty());
  EXPECT_TRUE(PluginHost::log().empty());

  ASSERT_TRUE(host.Load());
  Script script;
  ASSERT_EQ(host.AmxLoad(script.amx()), 0);
  ASSERT_EQ(script.Call("HLoad", {script.Str("p"), script.Str("order.txt")}), 1);
  host.Unload();
  std::fill(std::begin(host.amxFunctions), std::end(host.amxFunctions), nullptr);
  host.pluginData[0] = nullptr;
  const cell dest = script.Array(4, 7);
  for (const std::string& native : script.amx()->registered) {
    EXPECT_EQ(script.Call(native, {script.Str("p"), script.Str("k"), dest, 1}), 0) << native;
  }
  EXPECT_EQ(script.At(dest), 7);
  host.Unload();
}

// A host that unloads its plugins late in the exit calls Unload after the
// plugin's own clean-up has freed the registry's table; the pools must still
// go cleanly, and natives after a new Load must find a working registry.
TEST(Entry, UnloadAfterThePluginsCleanUpAtExit) {
  const int code = InChild([] {
    static PluginHost* host = nullptr;
    static Script* script = nullptr;
    struct Quiet {
      static void Log(const char*, ...) {}
    };
    host = new PluginHost();
    void* last = dlopen(LAST_AT_EXIT_SO, RTLD_NOW);
    auto* lastAtExit = last ? static_cast<void (**)()>(dlsym(last, "g_lastAtExit")) : nullptr;
    if (!lastAtExit) return 7;
    *lastAtExit = [] {
      const cell p = script->Str("p");
      if (script->Call("HCount", {p}) != -1) _exit(4);  // the clean-up has not run
      if (script->Call("HClose", {p}) != 0) _exit(8);
      host->Unload();
      if (!host->Load() || host->AmxLoad(script->amx()) != 0) _exit(5);
      script->Call("HLoad", {p, script->Str("exit.txt")});
      script->Call("HAdd", {p, script->Str("k"), script->Str("again")});
      const bool found = script->Call("HExists", {p, script->Str("k")}) == 1;
      host->Unload();
      _exit(found ? 0 : 6);
    };
    Script::InstallApi(*host);
    host->pluginData[0] = reinterpret_cast<void*>(&Quiet::Log);
    if (!host->Load()) return 1;
    script = new Script();
    if (host->AmxLoad(script->amx()) != 0) return 2;
    // Journaled: its syncing thread must be gone before the clean-up ends.
    script->Call("HLoad", {script->Str("p"), script->Str("exit.txt"), 1});
    script->Call("HAdd", {script->Str("p"), script->Str("k"), script->Str("v")});
    std::exit(3);
  });
  EXPECT_EQ(code, 0);
}

size_t Threads() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return size_t(std::distance(begin(tasks), end(tasks)));
}

// A host that unloads the plugin with dlclose and no Unload: no thread of
// the plugin may outlive its code.
TEST(Entry, NoThreadOutlivesThePlugin) {
  const int code = InChild([] {
    char dir[] = "/tmp/pairvault-entry-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0 || mkdir("scriptfiles", 0777) != 0) return 9;
    const size_t before = Threads();
    auto* host = new PluginHost();
    Script::InstallApi(*host);
    Script script;
    if (!host->Load() || host->AmxLoad(script.amx()) != 0) return 1;
    if (script.Call("HLoad", {script.Str("p"), script.Str("f.txt"), 1}) != 1) return 2;
    script.Call("HAdd", {script.Str("p"), script.Str("k"), script.Str("v")});
    if (Threads() != before + 1) return 3;  // the syncer runs
    delete host;
    std::filesystem::remove_all(dir);
    return Threads() == before ? 0 : 4;
  });
  EXPECT_EQ(code, 0);
}

}  // namespace

// Some server programs export AMX functions of their own. The plugin's calls
// must still go through the table Load handed over, where hooks may sit.
namespace {
int g_programAmxCalls = 0;
}  // namespace

extern "C" {
int amx_Register(AMX*, const AMX_NATIVE_INFO*, int) {
  return ++g_programAmxCalls, AMX_ERR_NOTFOUND;
}
int amx_GetAddr(AMX*, cell, cell**) { return ++g_programAmxCalls, AMX_ERR_MEMACCESS; }
int amx_StrLen(const cell*, int* length) { return *length = 0, ++g_programAmxCalls, 0; }
int amx_GetString(char* dest, const cell*, int, size_t) {
  return *dest = 0, ++g_programAmxCalls, 0;
}
int amx_SetString(cell*, const char*, int, int, size_t) { return ++g_programAmxCalls, 0; }
}

namespace {

TEST(Entry, OwnAmxCallsGoThroughTheHostsTable) {
  PluginHost host;
  Script::InstallApi(host);
  Script script;
  ASSERT_TRUE(host.Load());
  EXPECT_EQ(host.AmxLoad(script.amx()), 0);
  EXPECT_EQ(script.Call("HLoad", {script.Str("p"), script.Str("own-calls.txt")}), 1);
  EXPECT_EQ(script.Call("HAdd", {script.Str("p"), script.Str("k"), script.Str("v")}), 1);
  const cell dest = script.Array(4);
  EXPECT_EQ(script.Call("HGet", {script.Str("p"), script.Str("k"), dest}), 1);
  EXPECT_EQ(script.Text(dest), "v");
  host.Unload();
  EXPECT_EQ(g_programAmxCalls, 0);
}

}  // namespace
