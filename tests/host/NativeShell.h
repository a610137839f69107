// Runs native calls written one per line, the way a script would make them:
//   HAddInt scores alice 10
//   HGet scores "a key with blanks"
//   show scores.txt          (prints scriptfiles/scores.txt)
// Each call prints its result, what it wrote back and what the plugin logged.
#pragma once

#include <cstdio>
#include <string>

#include "PluginHost.h"
#include "Script.h"

class NativeShell {
 public:
  NativeShell(Script& script, std::FILE* out)
      : m_script(script), m_out(out), m_logShown(PluginHost::log().size()) {}

  // False when the line could not be run; the reason is printed.
  bool Run(const std::string& line);

 private:
  bool Call(const std::string& native, const std::vector<std::string>& words);
  void Show(const std::string& file);
  void PrintNewLog();

  Script& m_script;
  std::FILE* m_out;
  size_t m_logShown;
};
