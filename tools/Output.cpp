#include "Output.h"

#include <cstring>

void PrintText(std::FILE* out, const char* text, size_t len) {
  std::fputc('"', out);
  for (size_t i = 0; i < len; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const char* named = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
    if (named) {
      std::fputs(named, out);
    } else if (c == '"' || c == '\\') {
      std::fprintf(out, "\\%c", c);
    } else if (c < 0x20 || c > 0x7E) {
      std::fprintf(out, "\\x%02X", c);
    } else {
      std::fputc(c, out);
    }
  }
  std::fputc('"', out);
}

int Fail(const char* path, const char* reason) {
  std::fprintf(stderr, "pvtool: %s: %s\n", path, reason);
  return kUnreadable;
}

int FailWith(const char* path, int error) { return Fail(path, std::strerror(error)); }
