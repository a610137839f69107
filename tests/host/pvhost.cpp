// Our host on the command line: loads a pairvault.so the way a server does
// and runs native calls against it, one per line, from a file, from standard
// input ("-"), or a short tour when none is given.
#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "NativeShell.h"
#include "PluginHost.h"
#include "Script.h"

namespace {

const char kTour[] =
    "HLoad scores scores.txt\n"
    "HAddInt scores alice 10\n"
    "HInc scores alice\n"
    "HGetInt scores alice\n"
    "HGetIndex scores 0\n"
    "HSave scores\n"
    "show scores.txt\n"
    "HClose scores\n"
    "HGetInt scores alice\n"
    "HLoad bank bank.txt 1\n"
    "HInc bank alice 100\n"
    "HGetInt bank alice\n"
    "HClose bank\n";

void PrintLog(size_t from) {
  const auto& lines = PluginHost::log();
  for (size_t i = from; i < lines.size(); ++i) std::printf("  log: %s\n", lines[i].c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : PAIRVAULT_SO;
  const std::string source = argc > 2 ? argv[2] : "";
  try {
    std::ifstream file;
    std::istringstream tour(kTour);
    std::istream* in = &tour;
    if (source == "-") {
      in = &std::cin;
    } else if (!source.empty()) {
      file.open(source);
      if (!file) throw std::runtime_error("cannot read " + source);
      in = &file;
    }
    if (mkdir("scriptfiles", 0777) == 0) std::printf("(made scriptfiles/ here)\n");

    PluginHost host(path);
    Script::InstallApi(host);
    Script script;
    std::printf("Supports() = 0x%08X\n", host.Supports());
    std::printf("Load() = %d\n", host.Load() ? 1 : 0);
    PrintLog(0);
    std::printf("AmxLoad() = %d\n", host.AmxLoad(script.amx()));

    NativeShell shell(script, stdout);
    bool ok = true;
    for (std::string line; std::getline(*in, line);) ok = shell.Run(line) && ok;

    const size_t logged = PluginHost::log().size();
    std::printf("Unload()\n");
    host.Unload();
    PrintLog(logged);
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pvhost: %s\n", e.what());
    return 2;
  }
}
