#include "CAmxString.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Script addresses are byte offsets and need not be multiples of four. Two
// addressable bytes enclose only bytes of the script's own memory block: the
// space between heap and stack belongs to it too.
bool Addressable(AMX* amx, uint64_t address) {
  cell* phys = nullptr;
  return address <= UINT32_MAX &&
         amx_GetAddr(amx, cell(uint32_t(address)), &phys) == AMX_ERR_NONE && phys;
}

uint64_t LastByte(cell param, size_t cells) {
  return uint64_t(uint32_t(param)) + uint64_t(cells) * sizeof(cell) - 1;
}

// How many cells from `param` on, up to `wanted`, end on a byte the host lets
// us address. The script's memory has a hole between heap and stack, so each
// cell is asked for, not only the last.
size_t AddressableCells(AMX* amx, cell param, size_t wanted) {
  size_t n = 0;
  while (n < wanted && Addressable(amx, LastByte(param, n + 1))) ++n;
  return n;
}

}  // namespace

AmxText StrAmx::GetString(AMX* amx, cell param) {
  AmxText text;
  cell* source = nullptr;
  if (amx_GetAddr(amx, param, &source) != AMX_ERR_NONE || !source) return text;
  // Names and keys fit the inline room: one call reads them, and only a text
  // that fills the room costs a call for its length and a second read.
  char* room = text.Reserve(AmxText::kInline);
  amx_GetString(room, source, 0, AmxText::kInline + 1);
  text.Terminated();
  if (text.size() < AmxText::kInline) return text;
  int length = 0;
  amx_StrLen(source, &length);
  if (length <= 0 || !(room = text.Reserve(size_t(length)))) return text;
  amx_GetString(room, source, 0, size_t(length) + 1);
  text.Terminated();
  return text;
}

int StrAmx::SetString(AMX* amx, cell param, const char* text, size_t len) {
  cell* dest = nullptr;
  if (amx_GetAddr(amx, param, &dest) != AMX_ERR_NONE || !dest) return AMX_ERR_MEMACCESS;
  const size_t cells = AddressableCells(amx, param, len + 1);
  // The host takes a size of 0 as no limit at all.
  if (cells == 0) return AMX_ERR_MEMACCESS;
  return amx_SetString(dest, text, 0, 0, cells);
}

cell* StrAmx::WholeArray(AMX* amx, cell param, cell size) {
  cell* array = nullptr;
  if (size <= 0 || amx_GetAddr(amx, param, &array) != AMX_ERR_NONE || !array) return nullptr;
  return Addressable(amx, LastByte(param, size_t(size))) ? array : nullptr;
}

int StrAmx::SetString(cell* array, const char* text, size_t len, cell size) {
  return amx_SetString(array, text, 0, 0, std::min(len + 1, size_t(size)));
}

cell* StrAmx::CellAt(AMX* amx, cell param) {
  cell* phys = nullptr;
  if (amx_GetAddr(amx, param, &phys) != AMX_ERR_NONE || !phys) return nullptr;
  return Addressable(amx, LastByte(param, 1)) ? phys : nullptr;
}
