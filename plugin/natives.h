// The script natives and the table that registers them with each script.
#pragma once

#include "amx.h"

// Ends with an entry whose name and function are null.
extern const AMX_NATIVE_INFO* const PairVaultNatives;
