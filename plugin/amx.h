// The parts of the abstract machine's interface this plugin touches, declared
// from the machine's documented API. The script instance stays opaque: hosts
// lay it out differently, so every access goes through the host's functions.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t cell;
typedef uint32_t ucell;

struct tagAMX;
typedef struct tagAMX AMX;

typedef cell (*AMX_NATIVE)(AMX* amx, const cell* params);
typedef int (*AMX_CALLBACK)(AMX* amx, cell index, cell* result, const cell* params);
typedef int (*AMX_DEBUG)(AMX* amx);

struct AMX_NATIVE_INFO {
  const char* name;
  AMX_NATIVE func;
};

enum {
  AMX_ERR_NONE = 0,
  AMX_ERR_MEMACCESS = 5,
  AMX_ERR_NOTFOUND = 19,
  AMX_ERR_INIT = 22,
  AMX_ERR_PARAMS = 25,
};

// Whoever defines these exports them: the plugin forwards them to the host.
#pragma GCC visibility push(default)
extern "C" {
uint16_t* amx_Align16(uint16_t* v);
uint32_t* amx_Align32(uint32_t* v);
int amx_Allot(AMX* amx, int cells, cell* amx_addr, cell** phys_addr);
int amx_Callback(AMX* amx, cell index, cell* result, const cell* params);
int amx_Cleanup(AMX* amx);
int amx_Clone(AMX* amxClone, AMX* amxSource, void* data);
int amx_Exec(AMX* amx, cell* retval, int index);
int amx_FindNative(AMX* amx, const char* name, int* index);
int amx_FindPublic(AMX* amx, const char* funcname, int* index);
int amx_FindPubVar(AMX* amx, const char* varname, cell* amx_addr);
int amx_FindTagId(AMX* amx, cell tag_id, char* tagname);
int amx_Flags(AMX* amx, uint16_t* flags);
int amx_GetAddr(AMX* amx, cell amx_addr, cell** phys_addr);
int amx_GetNative(AMX* amx, int index, char* funcname);
int amx_GetPublic(AMX* amx, int index, char* funcname);
int amx_GetPubVar(AMX* amx, int index, char* varname, cell* amx_addr);
int amx_GetString(char* dest, const cell* source, int use_wchar, size_t size);
int amx_GetTag(AMX* amx, int index, char* tagname, cell* tag_id);
int amx_GetUserData(AMX* amx, long tag, void** ptr);
int amx_Init(AMX* amx, void* program);
int amx_InitJIT(AMX* amx, void* reloc_table, void* native_code);
int amx_MemInfo(AMX* amx, long* codesize, long* datasize, long* stackheap);
int amx_NameLength(AMX* amx, int* length);
AMX_NATIVE_INFO* amx_NativeInfo(const char* name, AMX_NATIVE func);
int amx_NumNatives(AMX* amx, int* number);
int amx_NumPublics(AMX* amx, int* number);
int amx_NumPubVars(AMX* amx, int* number);
int amx_NumTags(AMX* amx, int* number);
int amx_Push(AMX* amx, cell value);
int amx_PushArray(AMX* amx, cell* amx_addr, cell** phys_addr, const cell array[], int numcells);
int amx_PushString(AMX* amx, cell* amx_addr, cell** phys_addr, const char* string, int pack,
                   int use_wchar);
int amx_RaiseError(AMX* amx, int error);
int amx_Register(AMX* amx, const AMX_NATIVE_INFO* nativelist, int number);
int amx_Release(AMX* amx, cell amx_addr);
int amx_SetCallback(AMX* amx, AMX_CALLBACK callback);
int amx_SetDebugHook(AMX* amx, AMX_DEBUG debug);
int amx_SetString(cell* dest, const char* source, int pack, int use_wchar, size_t size);
int amx_SetUserData(AMX* amx, long tag, void* ptr);
int amx_StrLen(const cell* cstring, int* length);
int amx_UTF8Check(const char* string, int* length);
int amx_UTF8Get(const char* string, const char** endptr, cell* value);
int amx_UTF8Len(const cell* cstr, int* length);
int amx_UTF8Put(char* string, char** endptr, int maxchars, cell value);
}
#pragma GCC visibility pop
