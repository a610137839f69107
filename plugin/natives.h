// The script natives and the table that registers them with each script.
#pragma once

#include "amx.h"

extern const AMX_NATIVE_INFO PairVaultNatives[14];
