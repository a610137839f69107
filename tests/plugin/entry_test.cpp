#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PluginHost.h"

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
