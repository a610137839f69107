#include "NativeShell.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

// Argument kinds: s string, i integer, f float, d string destination,
// r float reference, o optional integer (the last argument only).
const struct {
  const char* name;
  const char* kinds;
} kNatives[] = {
    {"HLoad", "sso"},      {"HSave", "s"},        {"HClose", "s"},   {"HAdd", "sss"},
    {"HAddInt", "ssi"},   {"HAddFloat", "ssf"},  {"HGet", "ssdo"},  {"HGetInt", "ss"},
    {"HGetFloat", "ssr"}, {"HGetIndex", "sido"}, {"HInc", "sso"},   {"HDec", "sso"},
    {"HDel", "ss"},       {"HGetKey", "sido"},   {"HExists", "ss"}, {"HCount", "s"},
};

// Words split at blanks; "quoted words" may hold blanks and \n \r \" \\.
bool Split(const std::string& line, std::vector<std::string>& words) {
  size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size() || line[i] == '#') return true;
    std::string word;
    if (line[i] != '"') {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
        word += line[i++];
      }
    } else {
      for (++i;; ++i) {
        if (i >= line.size()) return false;
        if (line[i] == '"') break;
        if (line[i] == '\\' && i + 1 < line.size()) {
          const char c = line[++i];
          word += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
          word += line[i];
        }
      }
      ++i;
    }
    words.push_back(word);
  }
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

}  // namespace

bool NativeShell::Run(const std::string& line) {
  std::vector<std::string> words;
  if (!Split(line, words)) {
    std::fprintf(m_out, "! unterminated quote\n");
    return false;
  }
  if (words.empty()) return true;
  std::fprintf(m_out, "> %s\n", line.c_str());
  if (words[0] == "show" && words.size() == 2) {
    Show(words[1]);
    return true;
  }
  const bool ok = Call(words[0], words);
  PrintNewLog();
  return ok;
}

bool NativeShell::Call(const std::string& native, const std::vector<std::string>& words) {
  const char* kinds = nullptr;
  for (const auto& n : kNatives) {
    if (native == n.name) kinds = n.kinds;
  }
  const size_t given = words.size() - 1;
  const size_t wanted = kinds ? std::strlen(kinds) : 0;
  const bool optional = kinds && kinds[wanted - 1] == 'o';
  size_t typed = 0;  // destinations are made here, not typed
  for (size_t i = 0; i < wanted; ++i) typed += std::strchr("dr", kinds[i]) ? 0 : 1;
  if (!kinds || given > typed || given < typed - (optional ? 1 : 0)) {
    std::fprintf(m_out, "! unknown native or wrong number of arguments\n");
    return false;
  }

  m_script.ResetHeap();
  std::vector<cell> args;
  cell out = 0;
  size_t word = 1;
  for (size_t i = 0; i < wanted; ++i) {
    if (kinds[i] == 'd' || kinds[i] == 'r') {  // a destination: room for any text
      out = m_script.Array(kinds[i] == 'd' ? 1 << 14 : 1);
      args.push_back(out);
      continue;
    }
    if (word > given) break;  // an optional argument left out
    const std::string& text = words[word++];
    switch (kinds[i]) {
      case 's':
        args.push_back(m_script.Str(text));
        break;
      case 'f': {
        const float f = std::strtof(text.c_str(), nullptr);
        cell c;
        std::memcpy(&c, &f, sizeof c);
        args.push_back(c);
        break;
      }
      default:
        args.push_back(cell(std::strtoll(text.c_str(), nullptr, 0)));
    }
  }

  const cell result = m_script.Call(native, args);
  std::fprintf(m_out, "  = %d", int(result));
  if (std::strchr(kinds, 'd')) std::fprintf(m_out, "  dest %s", Quoted(m_script.Text(out)).c_str());
  if (std::strchr(kinds, 'r')) {
    const cell bits = m_script.At(out);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    std::fprintf(m_out, "  value %g", double(f));
  }
  std::fprintf(m_out, "\n");
  return true;
}

void NativeShell::Show(const std::string& file) {
  const std::string path = "scriptfiles/" + file;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(m_out, "  %s: no such file\n", path.c_str());
    return;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  const std::string content = bytes.str();
  std::fprintf(m_out, "  %s, %zu bytes:\n", path.c_str(), content.size());
  std::istringstream lines(content);
  for (std::string l; std::getline(lines, l);) std::fprintf(m_out, "  | %s\n", l.c_str());
}

void NativeShell::PrintNewLog() {
  const auto& lines = PluginHost::log();
  for (; m_logShown < lines.size(); ++m_logShown) {
    std::fprintf(m_out, "  log: %s\n", lines[m_logShown].c_str());
  }
}
