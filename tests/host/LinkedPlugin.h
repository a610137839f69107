// The plugin's sources linked into the program instead of loaded with dlopen:
// its entry points are called directly, with host tables of our own. Then the
// program's operator new is the plugin's too, and a fuzzer sees its code.
#pragma once

#include "amx.h"

class LinkedPlugin {
 public:
  // Installs the script model's AMX functions and calls Load.
  LinkedPlugin();
  // Calls Unload, which closes every pool.
  ~LinkedPlugin();
  LinkedPlugin(const LinkedPlugin&) = delete;
  LinkedPlugin& operator=(const LinkedPlugin&) = delete;

  int AmxLoad(AMX* amx);
  // Lines the plugin logged since the last Load; the log never allocates.
  static long logged();

  void* amxFunctions[44];
  void* pluginData[256];
};
