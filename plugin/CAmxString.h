// Conversions between script strings (cells in a script's memory) and byte
// strings, through the host's AMX functions only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "AmxText.h"
#include "amx.h"

class StrAmx {
 public:
  // Packed or unpacked, one byte per character; "" for an address the host
  // refuses. Not ok() when memory ran out.
  static AmxText GetString(AMX* amx, cell param) {
    AmxText text;
    cell* source = nullptr;
    if (amx_GetAddr(amx, param, &source) != AMX_ERR_NONE || !source) return text;
    // Names and keys fit the inline room: one call reads them, and only a
    // text that fills the room costs a call for its length and a second read.
    amx_GetString(text.Reserve(AmxText::kInline), source, 0, AmxText::kInline + 1);
    text.Terminated();
    if (text.size() == AmxText::kInline) ReadLong(source, text);
    return text;
  }
  // Writes the text unpacked with its zero cell, never on a byte the script
  // does not own: cut to end at the last cell the host lets us address.
  // Returns the host's error code.
  static int SetString(AMX* amx, cell param, const char* text, size_t len);
  // The array of `size` cells at the address when the host lets us address
  // its first and its last byte, so that all of it lies in the script's
  // memory; else null.
  static cell* WholeArray(AMX* amx, cell param, cell size) {
    cell* array = nullptr;
    if (size <= 0 || amx_GetAddr(amx, param, &array) != AMX_ERR_NONE || !array) return nullptr;
    return Addressable(amx, LastByte(param, size_t(size))) ? array : nullptr;
  }
  // Writes the text into such an array, cut to its size.
  static int SetString(cell* array, const char* text, size_t len, cell size) {
    return amx_SetString(array, text, 0, 0, len + 1 < size_t(size) ? len + 1 : size_t(size));
  }
  // The cell at the address when the host lets us address all four of its
  // bytes, else null. It may be unaligned: read and write it with memcpy.
  static cell* CellAt(AMX* amx, cell param);

 private:
  static void ReadLong(const cell* source, AmxText& text);
  // How many cells from `param` on, up to `wanted`, end on a byte the host
  // lets us address.
  static size_t AddressableCells(AMX* amx, cell param, size_t wanted);

  // Script addresses are byte offsets and need not be multiples of four. Two
  // addressable bytes enclose only bytes of the script's own memory block:
  // the space between heap and stack belongs to it too.
  static bool Addressable(AMX* amx, uint64_t address) {
    cell* phys = nullptr;
    return address <= UINT32_MAX &&
           amx_GetAddr(amx, cell(uint32_t(address)), &phys) == AMX_ERR_NONE && phys;
  }
  static uint64_t LastByte(cell param, size_t cells) {
    return uint64_t(uint32_t(param)) + uint64_t(cells) * sizeof(cell) - 1;
  }
};
