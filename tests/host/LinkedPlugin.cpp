#include "LinkedPlugin.h"

#include <cstdarg>
#include <cstdio>

#include "Script.h"
#include "plugin.h"

namespace {

long g_logged = 0;

// Formats like a host would, into a fixed buffer: a test that makes operator
// new fail must not see allocations of the host's own.
void Log(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  ++g_logged;
}

}  // namespace

LinkedPlugin::LinkedPlugin() : amxFunctions(), pluginData() {
  Script::InstallApi(amxFunctions);
  pluginData[kPluginDataLogprintf] = reinterpret_cast<void*>(&Log);
  pluginData[kPluginDataAmxExports] = amxFunctions;
  g_logged = 0;
  Load(pluginData);
}

LinkedPlugin::~LinkedPlugin() { Unload(); }

int LinkedPlugin::AmxLoad(AMX* amx) { return ::AmxLoad(amx); }

long LinkedPlugin::logged() { return g_logged; }
