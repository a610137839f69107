// Our host on the command line: loads a pairvault.so the way a server does
// and shows what the plugin says.
#include <cstdio>
#include <exception>

#include "PluginHost.h"

namespace {

void PrintNewLog(size_t& shown) {
  const auto& lines = PluginHost::log();
  for (; shown < lines.size(); ++shown) std::printf("  log: %s\n", lines[shown].c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : PAIRVAULT_SO;
  try {
    PluginHost host(path);
    size_t shown = 0;
    std::printf("Supports() = 0x%08X\n", host.Supports());
    std::printf("Load() = %d\n", host.Load() ? 1 : 0);
    PrintNewLog(shown);
    std::printf("Unload()\n");
    host.Unload();
    PrintNewLog(shown);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pvhost: %s\n", e.what());
    return 1;
  }
  return 0;
}
