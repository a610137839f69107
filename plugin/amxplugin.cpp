// Forwarders that let the plugin call the AMX API by name. Each one reads the
// host's table at the moment of the call and passes everything through.
#include "amxplugin.h"

void* pAMXFunctions = nullptr;

namespace {

template <typename Fn>
Fn slot(AmxFunctionSlot index) {
  return reinterpret_cast<Fn>(static_cast<void**>(pAMXFunctions)[index]);
}

}  // namespace

#define FORWARD(name, index) slot<decltype(&name)>(index)

uint16_t* amx_Align16(uint16_t* v) { return FORWARD(amx_Align16, kAmxAlign16)(v); }
uint32_t* amx_Align32(uint32_t* v) { return FORWARD(amx_Align32, kAmxAlign32)(v); }
int amx_Allot(AMX* amx, int cells, cell* amx_addr, cell** phys_addr) {
  return FORWARD(amx_Allot, kAmxAllot)(amx, cells, amx_addr, phys_addr);
}
int amx_Callback(AMX* amx, cell index, cell* result, const cell* params) {
  return FORWARD(amx_Callback, kAmxCallback)(amx, index, result, params);
}
int amx_Cleanup(AMX* amx) { return FORWARD(amx_Cleanup, kAmxCleanup)(amx); }
int amx_Clone(AMX* amxClone, AMX* amxSource, void* data) {
  return FORWARD(amx_Clone, kAmxClone)(amxClone, amxSource, data);
}
int amx_Exec(AMX* amx, cell* retval, int index) {
  return FORWARD(amx_Exec, kAmxExec)(amx, retval, index);
}
int amx_FindNative(AMX* amx, const char* name, int* index) {
  return FORWARD(amx_FindNative, kAmxFindNative)(amx, name, index);
}
int amx_FindPublic(AMX* amx, const char* funcname, int* index) {
  return FORWARD(amx_FindPublic, kAmxFindPublic)(amx, funcname, index);
}
int amx_FindPubVar(AMX* amx, const char* varname, cell* amx_addr) {
  return FORWARD(amx_FindPubVar, kAmxFindPubVar)(amx, varname, amx_addr);
}
int amx_FindTagId(AMX* amx, cell tag_id, char* tagname) {
  return FORWARD(amx_FindTagId, kAmxFindTagId)(amx, tag_id, tagname);
}
int amx_Flags(AMX* amx, uint16_t* flags) { return FORWARD(amx_Flags, kAmxFlags)(amx, flags); }
int amx_GetAddr(AMX* amx, cell amx_addr, cell** phys_addr) {
  return FORWARD(amx_GetAddr, kAmxGetAddr)(amx, amx_addr, phys_addr);
}
int amx_GetNative(AMX* amx, int index, char* funcname) {
  return FORWARD(amx_GetNative, kAmxGetNative)(amx, index, funcname);
}
int amx_GetPublic(AMX* amx, int index, char* funcname) {
  return FORWARD(amx_GetPublic, kAmxGetPublic)(amx, index, funcname);
}
int amx_GetPubVar(AMX* amx, int index, char* varname, cell* amx_addr) {
  return FORWARD(amx_GetPubVar, kAmxGetPubVar)(amx, index, varname, amx_addr);
}
int amx_GetString(char* dest, const cell* source, int use_wchar, size_t size) {
  return FORWARD(amx_GetString, kAmxGetString)(dest, source, use_wchar, size);
}
int amx_GetTag(AMX* amx, int index, char* tagname, cell* tag_id) {
  return FORWARD(amx_GetTag, kAmxGetTag)(amx, index, tagname, tag_id);
}
int amx_GetUserData(AMX* amx, long tag, void** ptr) {
  return FORWARD(amx_GetUserData, kAmxGetUserData)(amx, tag, ptr);
}
int amx_Init(AMX* amx, void* program) { return FORWARD(amx_Init, kAmxInit)(amx, program); }
int amx_InitJIT(AMX* amx, void* reloc_table, void* native_code) {
  return FORWARD(amx_InitJIT, kAmxInitJIT)(amx, reloc_table, native_code);
}
int amx_MemInfo(AMX* amx, long* codesize, long* datasize, long* stackheap) {
  return FORWARD(amx_MemInfo, kAmxMemInfo)(amx, codesize, datasize, stackheap);
}
int amx_NameLength(AMX* amx, int* length) {
  return FORWARD(amx_NameLength, kAmxNameLength)(amx, length);
}
AMX_NATIVE_INFO* amx_NativeInfo(const char* name, AMX_NATIVE func) {
  return FORWARD(amx_NativeInfo, kAmxNativeInfo)(name, func);
}
int amx_NumNatives(AMX* amx, int* number) {
  return FORWARD(amx_NumNatives, kAmxNumNatives)(amx, number);
}
int amx_NumPublics(AMX* amx, int* number) {
  return FORWARD(amx_NumPublics, kAmxNumPublics)(amx, number);
}
int amx_NumPubVars(AMX* amx, int* number) {
  return FORWARD(amx_NumPubVars, kAmxNumPubVars)(amx, number);
}
int amx_NumTags(AMX* amx, int* number) { return FORWARD(amx_NumTags, kAmxNumTags)(amx, number); }
int amx_Push(AMX* amx, cell value) { return FORWARD(amx_Push, kAmxPush)(amx, value); }
int amx_PushArray(AMX* amx, cell* amx_addr, cell** phys_addr, const cell array[], int numcells) {
  return FORWARD(amx_PushArray, kAmxPushArray)(amx, amx_addr, phys_addr, array, numcells);
}
int amx_PushString(AMX* amx, cell* amx_addr, cell** phys_addr, const char* string, int pack,
                   int use_wchar) {
  return FORWARD(amx_PushString, kAmxPushString)(amx, amx_addr, phys_addr, string, pack, use_wchar);
}
int amx_RaiseError(AMX* amx, int error) {
  return FORWARD(amx_RaiseError, kAmxRaiseError)(amx, error);
}
int amx_Register(AMX* amx, const AMX_NATIVE_INFO* nativelist, int number) {
  return FORWARD(amx_Register, kAmxRegister)(amx, nativelist, number);
}
int amx_Release(AMX* amx, cell amx_addr) {
  return FORWARD(amx_Release, kAmxRelease)(amx, amx_addr);
}
int amx_SetCallback(AMX* amx, AMX_CALLBACK callback) {
  return FORWARD(amx_SetCallback, kAmxSetCallback)(amx, callback);
}
int amx_SetDebugHook(AMX* amx, AMX_DEBUG debug) {
  return FORWARD(amx_SetDebugHook, kAmxSetDebugHook)(amx, debug);
}
int amx_SetString(cell* dest, const char* source, int pack, int use_wchar, size_t size) {
  return FORWARD(amx_SetString, kAmxSetString)(dest, source, pack, use_wchar, size);
}
int amx_SetUserData(AMX* amx, long tag, void* ptr) {
  return FORWARD(amx_SetUserData, kAmxSetUserData)(amx, tag, ptr);
}
int amx_StrLen(const cell* cstring, int* length) {
  return FORWARD(amx_StrLen, kAmxStrLen)(cstring, length);
}
int amx_UTF8Check(const char* string, int* length) {
  return FORWARD(amx_UTF8Check, kAmxUTF8Check)(string, length);
}
int amx_UTF8Get(const char* string, const char** endptr, cell* value) {
  return FORWARD(amx_UTF8Get, kAmxUTF8Get)(string, endptr, value);
}
int amx_UTF8Len(const cell* cstr, int* length) {
  return FORWARD(amx_UTF8Len, kAmxUTF8Len)(cstr, length);
}
int amx_UTF8Put(char* string, char** endptr, int maxchars, cell value) {
  return FORWARD(amx_UTF8Put, kAmxUTF8Put)(string, endptr, maxchars, value);
}
