#include "CAmxString.h"

#include <cstdint>
#include <cstring>

// The script's memory has a hole between heap and stack, so each cell is
// asked for, not only the last.
size_t StrAmx::AddressableCells(AMX* amx, cell param, size_t wanted) {
  size_t n = 0;
  while (n < wanted && Addressable(amx, LastByte(param, n + 1))) ++n;
  return n;
}

void StrAmx::ReadLong(const cell* source, AmxText& text) {
  int length = 0;
  amx_StrLen(source, &length);
  char* room = length > 0 ? text.Reserve(size_t(length)) : nullptr;
  if (!room) return;
  amx_GetString(room, source, 0, size_t(length) + 1);
  text.Terminated();
}

int StrAmx::SetString(AMX* amx, cell param, const char* text, size_t len) {
  cell* dest = nullptr;
  if (amx_GetAddr(amx, param, &dest) != AMX_ERR_NONE || !dest) return AMX_ERR_MEMACCESS;
  const size_t cells = AddressableCells(amx, param, len + 1);
  // The host takes a size of 0 as no limit at all.
  if (cells == 0) return AMX_ERR_MEMACCESS;
  return amx_SetString(dest, text, 0, 0, cells);
}

cell* StrAmx::CellAt(AMX* amx, cell param) {
  cell* phys = nullptr;
  if (amx_GetAddr(amx, param, &phys) != AMX_ERR_NONE || !phys) return nullptr;
  return Addressable(amx, LastByte(param, 1)) ? phys : nullptr;
}
