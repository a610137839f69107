// Our stand-in for the host server: loads pairvault.so with dlopen, hands it a
// plugin data table and an AMX function table, and calls its entry points the
// way a server does.
#pragma once

#include <string>
#include <vector>

#include "amx.h"

class PluginHost {
 public:
  explicit PluginHost(const std::string& path = PAIRVAULT_SO);
  ~PluginHost();
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // Null when the plugin does not export the name.
  void* symbol(const char* name) const;
  template <typename Fn>
  Fn function(const char* name) const {
    return reinterpret_cast<Fn>(symbol(name));
  }

  unsigned int Supports() const;
  bool Load();
  void Unload();
  int AmxLoad(AMX* amx) const;
  int AmxUnload(AMX* amx) const;

  // Every message the plugin logged, formatted, oldest first.
  static std::vector<std::string>& log();

  // Slot k holds the host's implementation of AMX API function k.
  static constexpr int kAmxSlots = 44;
  void* amxFunctions[kAmxSlots];
  // Entry 0: the log function; entry 16: amxFunctions.
  void* pluginData[256];

 private:
  void* m_handle;
};
