#include "CAmxString.h"

#include <cstdint>
#include <cstring>

namespace {

// How many cells from `param` on, up to `wanted`, the host lets us address,
// given that the first one is addressable. The script's memory has a hole
// between heap and stack, so every cell is asked for, not only the last.
size_t AddressableCells(AMX* amx, cell param, size_t wanted) {
  size_t n = 1;
  for (; n < wanted; ++n) {
    const uint32_t address = uint32_t(param) + uint32_t(n * sizeof(cell));
    if (address < uint32_t(param)) break;  // wrapped past the top
    cell* phys = nullptr;
    if (amx_GetAddr(amx, cell(address), &phys) != AMX_ERR_NONE || !phys) break;
  }
  return n;
}

}  // namespace

std::string StrAmx::GetString(AMX* amx, cell param) {
  cell* source = nullptr;
  if (amx_GetAddr(amx, param, &source) != AMX_ERR_NONE || !source) return std::string();
  int length = 0;
  amx_StrLen(source, &length);
  if (length <= 0) return std::string();
  // Names and keys are short: read them without a heap buffer.
  char shortText[256];
  if (size_t(length) < sizeof shortText) {
    amx_GetString(shortText, source, 0, sizeof shortText);
    return std::string(shortText);
  }
  std::string text(size_t(length) + 1, '\0');
  amx_GetString(&text[0], source, 0, text.size());
  text.resize(std::strlen(text.c_str()));
  return text;
}

int StrAmx::SetString(AMX* amx, cell param, std::string text) {
  cell* dest = nullptr;
  if (amx_GetAddr(amx, param, &dest) != AMX_ERR_NONE || !dest) return AMX_ERR_MEMACCESS;
  const size_t cells = AddressableCells(amx, param, text.size() + 1);
  return amx_SetString(dest, text.c_str(), 0, 0, cells);
}
