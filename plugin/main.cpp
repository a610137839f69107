// Entry points the host calls. Hosts call them in orders nobody planned
// (Unload before Load, AmxLoad before Load, Unload from an exit handler), so
// each one works without the host's tables.
#include "../pool/HashPoolManager.h"
#include "amxplugin.h"
#include "natives.h"
#include "plugin.h"

logprintf_t logprintf = nullptr;

PLUGIN_EXPORT unsigned int Supports() { return kSupportsVersion | kSupportsAmxNatives; }

PLUGIN_EXPORT bool Load(void** ppData) {
  pAMXFunctions = ppData[kPluginDataAmxExports];
  logprintf = reinterpret_cast<logprintf_t>(ppData[kPluginDataLogprintf]);
  logprintf("Plugin pairvault.dll got loaded.");
  return true;
}

// Pools are not saved here: only a script's save writes a file. The host's
// tables may be gone after this, so nothing reaches them until the next Load.
PLUGIN_EXPORT void Unload() {
  JournalSyncer::Stop();  // after a last sync of every journal
  CHashPoolManager::RemoveAll();
  if (logprintf) logprintf("Plugin pairvault.dll got unloaded.");
  pAMXFunctions = nullptr;
  logprintf = nullptr;
}

// Pools belong to the process, not to a script, and outlive it.
PLUGIN_EXPORT int AmxUnload(AMX*) { return 0; }

// Registers the natives with each script the host loads; the host gets
// amx_Register's code back unchanged.
PLUGIN_EXPORT int AmxLoad(AMX* amx) {
  if (!pAMXFunctions) return AMX_ERR_INIT;
  return amx_Register(amx, PairVaultNatives, -1);
}
