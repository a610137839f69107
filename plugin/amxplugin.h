// The host's AMX function table: where each API function sits in it, and the
// pointer the plugin keeps to it.
#pragma once

#include "amx.h"

// Slot k of the table holds the function pointer for one AMX API function.
// The host fixes this order; slot 2 exists but the plugin has no use for it.
enum AmxFunctionSlot {
  kAmxAlign16 = 0,
  kAmxAlign32 = 1,
  kAmxAllot = 3,
  kAmxCallback = 4,
  kAmxCleanup = 5,
  kAmxClone = 6,
  kAmxExec = 7,
  kAmxFindNative = 8,
  kAmxFindPublic = 9,
  kAmxFindPubVar = 10,
  kAmxFindTagId = 11,
  kAmxFlags = 12,
  kAmxGetAddr = 13,
  kAmxGetNative = 14,
  kAmxGetPublic = 15,
  kAmxGetPubVar = 16,
  kAmxGetString = 17,
  kAmxGetTag = 18,
  kAmxGetUserData = 19,
  kAmxInit = 20,
  kAmxInitJIT = 21,
  kAmxMemInfo = 22,
  kAmxNameLength = 23,
  kAmxNativeInfo = 24,
  kAmxNumNatives = 25,
  kAmxNumPublics = 26,
  kAmxNumPubVars = 27,
  kAmxNumTags = 28,
  kAmxPush = 29,
  kAmxPushArray = 30,
  kAmxPushString = 31,
  kAmxRaiseError = 32,
  kAmxRegister = 33,
  kAmxRelease = 34,
  kAmxSetCallback = 35,
  kAmxSetDebugHook = 36,
  kAmxSetString = 37,
  kAmxSetUserData = 38,
  kAmxStrLen = 39,
  kAmxUTF8Check = 40,
  kAmxUTF8Get = 41,
  kAmxUTF8Len = 42,
  kAmxUTF8Put = 43,
  kAmxFunctionSlots = 44,
};

// Set by Load from entry 16 of the host's plugin data table; the host owns it.
extern void* pAMXFunctions;
