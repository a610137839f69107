// What the host's plugin interface hands the plugin, and the entry points it
// calls.
#pragma once

#include "amx.h"

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

// The host's printf-style log; the plugin adds no newline of its own.
typedef void (*logprintf_t)(const char* format, ...);
extern logprintf_t logprintf;

// Entries of the plugin data table that Load reads.
enum PluginDataEntry {
  kPluginDataLogprintf = 0,
  kPluginDataAmxExports = 16,
};

// Low 16 bits: the plugin interface version; the flag: the plugin has natives.
const unsigned int kSupportsVersion = 0x0200;
const unsigned int kSupportsAmxNatives = 0x10000;

PLUGIN_EXPORT unsigned int Supports();
PLUGIN_EXPORT bool Load(void** ppData);
PLUGIN_EXPORT void Unload();
PLUGIN_EXPORT int AmxUnload(AMX* amx);
PLUGIN_EXPORT int AmxLoad(AMX* amx);
