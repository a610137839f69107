// A loaded plugin, one registered script and a scratch working directory.
#pragma once

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "PluginHost.h"
#include "ScratchDirectory.h"
#include "Script.h"

class NativesTest : public ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    Script::InstallApi(host);
    ASSERT_TRUE(host.Load());
    ASSERT_EQ(host.AmxLoad(script.amx()), 0);
    PluginHost::log().clear();
  }
  void TearDown() override {
    EXPECT_EQ(script.amx()->violations, std::vector<std::string>{});
    host.Unload();
    ScratchDirectory::TearDown();
  }

  cell S(const std::string& text) { return script.Str(text); }
  cell Call(const std::string& native, const std::vector<cell>& args) {
    return script.Call(native, args);
  }
  // HGet into a fresh array; the text up to its zero cell.
  std::string Get(const std::string& pool, const std::string& key) {
    const cell dest = script.Array(4096, 0x7777);
    EXPECT_EQ(Call("HGet", {S(pool), S(key), dest}), 1);
    return script.Text(dest);
  }
  // A server restart: the pools are gone, their files and journals stay.
  void Restart() {
    host.Unload();
    ASSERT_TRUE(host.Load());
    ASSERT_EQ(host.AmxLoad(script.amx()), 0);
  }
  void Open(const std::string& pool, const std::string& file = "f.txt") {
    ASSERT_EQ(Call("HLoad", {S(pool), S(file)}), 1);
  }
  static float AsFloat(cell c) {
    float f;
    std::memcpy(&f, &c, sizeof f);
    return f;
  }
  static cell FromFloat(float f) {
    cell c;
    std::memcpy(&c, &f, sizeof c);
    return c;
  }

  PluginHost host;
  Script script;
};
