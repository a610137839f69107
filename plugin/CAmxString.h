// Conversions between script strings (cells in a script's memory) and byte
// strings, through the host's AMX functions only.
#pragma once

#include <string>

#include "amx.h"

class StrAmx {
 public:
  // Packed or unpacked, one byte per character; "" for an address the host
  // refuses.
  static std::string GetString(AMX* amx, cell param);
  // Writes the text unpacked with its zero cell, cut so that nothing lands on
  // an address the host refuses. Returns the host's error code.
  static int SetString(AMX* amx, cell param, std::string text);
};
