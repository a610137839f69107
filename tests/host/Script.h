// A script instance as our host models it, with the abstract machine's rules
// for script memory: addresses are byte offsets into one data block; the heap
// runs from 0 up to `hea`, the stack from `stk` up to `stp`, and only those
// two ranges are addressable. The space between them and the slack after
// `stp` belong to nobody; a plugin that writes there is caught.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "amx.h"

class PluginHost;

struct tagAMX {
  class Script* owner = nullptr;
  std::vector<cell> data;
  cell hea = 0;
  cell stk = 0;
  cell stp = 0;
  std::map<std::string, AMX_NATIVE> natives;
  std::vector<std::string> registered;  // in the order given
  int registerResult = AMX_ERR_NONE;
  // Writes the plugin attempted outside addressable memory.
  std::vector<std::string> violations;
};

class Script {
 public:
  // Puts our AMX functions into the host's table.
  static void InstallApi(PluginHost& host);
  // The same for a table of PluginHost::kAmxSlots entries that a plugin linked
  // into the program reads directly.
  static void InstallApi(void** table);

  explicit Script(size_t cells = 1 << 16);
  ~Script();
  Script(const Script&) = delete;
  Script& operator=(const Script&) = delete;

  AMX* amx() { return &m_amx; }

  // Strings and arrays on the heap (growing hea) or pushed on the stack.
  cell Str(const std::string& text, bool packed = false);
  cell Array(size_t cells, cell fill = 0);
  cell StackArray(size_t cells, cell fill = 0);
  // The cell at a byte address, aligned or not.
  cell At(cell address);
  void Put(cell address, cell value);
  // Frees everything on the heap.
  void ResetHeap() { m_amx.hea = 0; }
  // Unpacked text at the address, up to its zero cell.
  std::string Text(cell address);

  // Calls a native registered with this script; cell 0 holds 4 bytes per
  // argument unless `count` says otherwise.
  cell Call(const std::string& native, const std::vector<cell>& args);
  cell CallWithCount(const std::string& native, cell byteCount, const std::vector<cell>& args);

  bool Addressable(cell address) const;
  cell HeapTop() const { return m_amx.hea; }
  cell StackTop() const { return m_amx.stp; }

  // The script whose data block holds the pointer, or null.
  static Script* Owning(const cell* p);

 private:
  char* Bytes(cell address);

  tagAMX m_amx;
};
