// Conversions between script strings (cells in a script's memory) and byte
// strings, through the host's AMX functions only.
#pragma once

#include <cstddef>

#include "AmxText.h"
#include "amx.h"

class StrAmx {
 public:
  // Packed or unpacked, one byte per character; "" for an address the host
  // refuses. Not ok() when memory ran out.
  static AmxText GetString(AMX* amx, cell param);
  // Writes the text unpacked with its zero cell, never on a byte the script
  // does not own: cut to end at the last cell the host lets us address.
  // Returns the host's error code.
  static int SetString(AMX* amx, cell param, const char* text, size_t len);
  // The array of `size` cells at the address when the host lets us address
  // its first and its last byte, so that all of it lies in the script's
  // memory; else null.
  static cell* WholeArray(AMX* amx, cell param, cell size);
  // Writes the text into such an array, cut to its size.
  static int SetString(cell* array, const char* text, size_t len, cell size);
  // The cell at the address when the host lets us address all four of its
  // bytes, else null. It may be unaligned: read and write it with memcpy.
  static cell* CellAt(AMX* amx, cell param);
};
