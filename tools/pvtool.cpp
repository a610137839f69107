// pvtool: pool files and their journals, read and folded with the plugin's
// own code, without a server.
#include <cstdio>
#include <cstring>

#include "Commands.h"
#include "Output.h"

namespace {

const char kUsage[] =
    "usage: pvtool COMMAND FILE\n"
    "\n"
    "FILE is a pool file, e.g. scriptfiles/bank.txt; its journal is FILE.journal.\n"
    "The plugin's own code reads them; only fold changes files.\n"
    "\n"
    "  show FILE     the entries a journaled HLoad would give, in the order scripts\n"
    "                walk them; those the journal changed marked [journal]\n"
    "  check FILE    what a save would not keep or keep differently: lines a load\n"
    "                passes over or takes off, repeated keys, empty values; the\n"
    "                journal's records, whether they apply to the file as it is,\n"
    "                a torn or corrupt end\n"
    "  fold FILE     saves the journal's changes into the file and empties the\n"
    "                journal, as HLoad and HSave would; refused while a server\n"
    "                holds the journal\n"
    "  journal FILE  the journal's records, those a load applies marked *\n"
    "\n"
    "Texts are shown in double quotes, bytes outside printable ASCII as \\xNN.\n"
    "Exit status: 0 done and nothing to report; 1 check found something, or fold\n"
    "set aside a journal of another version of the file; 2 a file could not be\n"
    "read or written, a server holds the journal, or the command was wrong.\n";

const struct {
  const char* name;
  int (*run)(const char* path);
} kCommands[] = {
    {"show", Show},
    {"check", Check},
    {"fold", Fold},
    {"journal", ListJournal},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
    std::fputs(kUsage, stdout);
    return kClean;
  }
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("pvtool %s\n", PAIRVAULT_VERSION);
    return kClean;
  }
  for (const auto& command : kCommands) {
    if (argc == 3 && !std::strcmp(argv[1], command.name)) {
      const int status = command.run(argv[2]);
      return std::fflush(stdout) == 0 ? status : Fail("standard output", "cannot be written");
    }
  }
  std::fputs("usage: pvtool show|check|fold|journal FILE (pvtool --help tells more)\n", stderr);
  return kUnreadable;
}
