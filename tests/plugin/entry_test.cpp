#include <gtest/gtest.h>

#include <string>
#include <vector>

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
