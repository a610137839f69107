#include "Script.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

const ucell kUnpackedMax = 0x00FFFFFFu;  // a first cell above this: packed

// Never destroyed: hosts call plugins late in the exit, after the static
// destructors ran.
std::vector<Script*>& LiveScripts() {
  static std::vector<Script*>& scripts = *new std::vector<Script*>;
  return scripts;
}

tagAMX& Of(AMX* amx) { return *amx; }

// Script addresses are byte offsets and cells may be unaligned, so every
// cell is read and written with memcpy.
cell Load(const cell* p, size_t i) {
  cell c;
  std::memcpy(&c, reinterpret_cast<const char*>(p) + i * sizeof(cell), sizeof c);
  return c;
}

// Whole cells from p to the end of the script's memory block, the stack top.
size_t CellsLeft(const cell* p) {
  Script* script = Script::Owning(p);
  if (!script) return 0;
  const char* base = reinterpret_cast<const char*>(script->amx()->data.data());
  const ptrdiff_t offset = reinterpret_cast<const char*>(p) - base;
  return offset < script->amx()->stp ? size_t(script->amx()->stp - offset) / sizeof(cell) : 0;
}

bool IsPacked(const cell* p) { return ucell(Load(p, 0)) > kUnpackedMax; }

char PackedChar(const cell* p, size_t i) {
  return char((ucell(Load(p, i / 4)) >> (24 - 8 * (i % 4))) & 0xFFu);
}

int HostGetAddr(AMX* amx, cell address, cell** phys) {
  if (!Of(amx).owner->Addressable(address)) return AMX_ERR_MEMACCESS;
  *phys = reinterpret_cast<cell*>(reinterpret_cast<char*>(Of(amx).data.data()) + address);
  return AMX_ERR_NONE;
}

int HostStrLen(const cell* p, int* length) {
  const size_t limit = CellsLeft(p);
  size_t n = 0;
  if (limit > 0 && IsPacked(p)) {
    while (n < limit * 4 && PackedChar(p, n) != '\0') ++n;
  } else {
    while (n < limit && Load(p, n) != 0) ++n;
  }
  *length = int(n);
  return AMX_ERR_NONE;
}

int HostGetString(char* dest, const cell* source, int useWchar, size_t size) {
  if (useWchar != 0 || size == 0) return AMX_ERR_PARAMS;
  int length = 0;
  HostStrLen(source, &length);
  const bool packed = length > 0 && IsPacked(source);
  size_t i = 0;
  for (; i < size_t(length) && i + 1 < size; ++i) {
    dest[i] = packed ? PackedChar(source, i) : char(Load(source, i));
  }
  dest[i] = '\0';
  return AMX_ERR_NONE;
}

int HostSetString(cell* dest, const char* source, int pack, int useWchar, size_t size) {
  Script* script = Script::Owning(dest);
  if (!script || pack != 0 || useWchar != 0) {
    if (script) script->amx()->violations.push_back("SetString: not unpacked bytes");
    return AMX_ERR_PARAMS;
  }
  const cell base = cell(reinterpret_cast<const char*>(dest) -
                         reinterpret_cast<const char*>(script->amx()->data.data()));
  // As the machine does: a size of 0 is no limit at all.
  const size_t length = std::min(std::strlen(source), size - 1);
  for (size_t i = 0; i <= length; ++i) {
    const cell address = cell(base + cell(i * sizeof(cell)));
    // All four bytes inside the block (the free space between heap and stack
    // is part of it); whether the text belonged there, tests tell by canaries.
    if (address < 0 || address > script->amx()->stp - cell(sizeof(cell))) {
      script->amx()->violations.push_back("SetString wrote to " + std::to_string(address));
      return AMX_ERR_MEMACCESS;
    }
    script->Put(address, i < length ? cell(static_cast<unsigned char>(source[i])) : 0);
  }
  return AMX_ERR_NONE;
}

int HostRegister(AMX* amx, const AMX_NATIVE_INFO* list, int number) {
  for (int i = 0; number < 0 ? list[i].name != nullptr : i < number; ++i) {
    Of(amx).natives[list[i].name] = list[i].func;
    Of(amx).registered.push_back(list[i].name);
  }
  return Of(amx).registerResult;
}

}  // namespace

void Script::InstallApi(void** table) {
  table[13] = reinterpret_cast<void*>(&HostGetAddr);
  table[17] = reinterpret_cast<void*>(&HostGetString);
  table[33] = reinterpret_cast<void*>(&HostRegister);
  table[37] = reinterpret_cast<void*>(&HostSetString);
  table[39] = reinterpret_cast<void*>(&HostStrLen);
}

Script::Script(size_t cells) {
  m_amx.data.assign(cells, 0);
  // 64 cells past the stack top stay outside the script, as canaries.
  m_amx.stp = cell((cells - 64) * sizeof(cell));
  m_amx.stk = m_amx.stp;
  m_amx.owner = this;
  LiveScripts().push_back(this);
}

Script::~Script() {
  auto& live = LiveScripts();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

Script* Script::Owning(const cell* p) {
  for (Script* script : LiveScripts()) {
    const auto& data = script->m_amx.data;
    if (p >= data.data() && p < data.data() + data.size()) return script;
  }
  return nullptr;
}

bool Script::Addressable(cell address) const {
  return (address >= 0 && address < m_amx.hea) || (address >= m_amx.stk && address < m_amx.stp);
}

char* Script::Bytes(cell address) {
  if (address < 0 || size_t(address) + sizeof(cell) > m_amx.data.size() * sizeof(cell)) {
    throw std::out_of_range("script address " + std::to_string(address));
  }
  return reinterpret_cast<char*>(m_amx.data.data()) + address;
}

cell Script::At(cell address) {
  cell c;
  std::memcpy(&c, Bytes(address), sizeof c);
  return c;
}

void Script::Put(cell address, cell value) { std::memcpy(Bytes(address), &value, sizeof value); }

cell Script::Array(size_t cells, cell fill) {
  const cell address = m_amx.hea;
  m_amx.hea += cell(cells * sizeof(cell));
  if (m_amx.hea > m_amx.stk) throw std::length_error("script heap meets the stack");
  for (size_t i = 0; i < cells; ++i) Put(address + cell(i * sizeof(cell)), fill);
  return address;
}

cell Script::StackArray(size_t cells, cell fill) {
  m_amx.stk -= cell(cells * sizeof(cell));
  if (m_amx.stk < m_amx.hea) throw std::length_error("script stack meets the heap");
  for (size_t i = 0; i < cells; ++i) Put(m_amx.stk + cell(i * sizeof(cell)), fill);
  return m_amx.stk;
}

cell Script::Str(const std::string& text, bool packed) {
  if (!packed) {
    const cell address = Array(text.size() + 1);
    for (size_t i = 0; i < text.size(); ++i) {
      Put(address + cell(i * sizeof(cell)), cell(static_cast<unsigned char>(text[i])));
    }
    return address;
  }
  const cell address = Array(text.size() / 4 + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    const cell at = address + cell(i / 4 * sizeof(cell));
    Put(at, cell(ucell(At(at)) | ucell(static_cast<unsigned char>(text[i])) << (24 - 8 * (i % 4))));
  }
  return address;
}

std::string Script::Text(cell address) {
  std::string text;
  for (; At(address) != 0; address += cell(sizeof(cell))) text += char(At(address));
  return text;
}

cell Script::Call(const std::string& native, const std::vector<cell>& args) {
  return CallWithCount(native, cell(args.size() * sizeof(cell)), args);
}

cell Script::CallWithCount(const std::string& native, cell byteCount,
                           const std::vector<cell>& args) {
  auto it = m_amx.natives.find(native);
  if (it == m_amx.natives.end()) throw std::invalid_argument(native + " is not registered");
  std::vector<cell> params{byteCount};
  params.insert(params.end(), args.begin(), args.end());
  return it->second(&m_amx, params.data());
}
