// Script natives. Each looks its pool up by name first and returns 0, having
// touched nothing else, when none is open under it.
#include "natives.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../pool/HashPoolManager.h"
#include "CAmxString.h"
#include "plugin.h"

namespace {

// Nothing may escape into the host: a failed allocation ends the call with 0.
template <typename Body>
cell Guard(const cell* params, cell wantedArguments, Body body) noexcept {
  // A call with fewer arguments than the native reads would have it read
  // and write through cells the script never passed.
  if (params[0] / cell(sizeof(cell)) < wantedArguments) return 0;
  try {
    return body();
  } catch (...) {
    return 0;
  }
}

std::string Arg(AMX* amx, const cell* params, int index) {
  return StrAmx::GetString(amx, params[index]);
}

CHashPool* FindPool(AMX* amx, const cell* params) {
  return CHashPoolManager::Find(Arg(amx, params, 1).c_str());
}

float CellToFloat(cell c) {
  float f;
  std::memcpy(&f, &c, sizeof f);
  return f;
}

cell FloatToCell(float f) {
  cell c;
  std::memcpy(&c, &f, sizeof c);
  return c;
}

cell AddText(AMX* amx, const cell* params, const char* value) {
  CHashPool* pool = FindPool(amx, params);
  if (!pool) return 0;
  pool->Add(Arg(amx, params, 2).c_str(), value);
  return 1;
}

cell Step(AMX* amx, const cell* params, bool up) {
  CHashPool* pool = FindPool(amx, params);
  if (!pool) return 0;
  const std::string key = Arg(amx, params, 2);
  const uint32_t amount = params[0] / cell(sizeof(cell)) == 3 ? uint32_t(params[3]) : 1u;
  if (up) {
    pool->Inc(key.c_str(), amount);
  } else {
    pool->Dec(key.c_str(), int32_t(amount));
  }
  return 1;
}

cell n_hLoad(AMX* amx, const cell* params) {
  return Guard(params, 2, [&]() -> cell {
    CHashPool* pool = FindPool(amx, params);
    if (!pool) pool = CHashPoolManager::New(Arg(amx, params, 1).c_str());
    if (!pool) return 0;
    pool->SetName(Arg(amx, params, 1).c_str());
    pool->SetFileName(Arg(amx, params, 2).c_str());
    logprintf("Loading hash %s from %s", Arg(amx, params, 1).c_str(), pool->m_szFileName);
    pool->Load();
    return 1;
  });
}

cell n_hSave(AMX* amx, const cell* params) {
  return Guard(params, 1, [&]() -> cell {
    CHashPool* pool = FindPool(amx, params);
    if (!pool) return 0;
    logprintf("Saving hash %s to %s", Arg(amx, params, 1).c_str(), pool->m_szFileName);
    pool->Save();
    return 1;
  });
}

cell n_hClose(AMX* amx, const cell* params) {
  return Guard(params, 1, [&]() -> cell {
    return CHashPoolManager::Remove(Arg(amx, params, 1).c_str()) ? 1 : 0;
  });
}

cell n_hAdd(AMX* amx, const cell* params) {
  return Guard(params, 3, [&]() -> cell {
    CHashPool* pool = FindPool(amx, params);
    if (!pool) return 0;
    const std::string key = Arg(amx, params, 2);
    pool->Add(key.c_str(), Arg(amx, params, 3).c_str());
    return 1;
  });
}

cell n_hAddInt(AMX* amx, const cell* params) {
  return Guard(params, 3, [&] {
    char text[128] = {};
    std::snprintf(text, sizeof text, "%i", int(params[3]));
    return AddText(amx, params, text);
  });
}

// The longest float text, for the largest finite float, has 47 characters.
cell n_hAddFloat(AMX* amx, const cell* params) {
  return Guard(params, 3, [&] {
    char text[128] = {};
    std::snprintf(text, sizeof text, "%f", double(CellToFloat(params[3])));
    return AddText(amx, params, text);
  });
}

cell n_hGet(AMX* amx, const cell* params) {
  return Guard(params, 3, [&]() -> cell {
    CHashPool* pool = FindPool(amx, params);
    if (!pool) return 0;
    StrAmx::SetString(amx, params[3], pool->Get(Arg(amx, params, 2).c_str()));
    return 1;
  });
}

cell n_hGetInt(AMX* amx, const cell* params) {
  return Guard(params, 2, [&]() -> cell {
    CHashPool* pool = FindPool(amx, params);
    if (!pool) return 0;
    const long n = std::strtol(pool->Get(Arg(amx, params, 2).c_str()), nullptr, 10);
    return n > INT32_MAX ? INT32_MAX : n < INT32_MIN ? INT32_MIN : cell(n);
  });
}

cell n_hGetFloat(AMX* amx, const cell* params) {
  return Guard(params, 3, [&]() -> cell {
    CHashPool* pool = FindPool(amx, params);
    cell* target = nullptr;
    if (amx_GetAddr(amx, params[3], &target) != AMX_ERR_NONE) target = nullptr;
    if (!pool) return 0;
    const double value = std::strtod(pool->Get(Arg(amx, params, 2).c_str()), nullptr);
    if (target) *target = FloatToCell(float(value));
    return 1;
  });
}

cell n_hGetIndex(AMX* amx, const cell* params) {
  return Guard(params, 3, [&]() -> cell {
    CHashPool* pool = FindPool(amx, params);
    if (!pool) return 0;
    StrAmx::SetString(amx, params[3], pool->GetIndex(uint32_t(params[2])));
    return 1;
  });
}

cell n_hInc(AMX* amx, const cell* params) {
  return Guard(params, 2, [&] { return Step(amx, params, true); });
}

cell n_hDec(AMX* amx, const cell* params) {
  return Guard(params, 2, [&] { return Step(amx, params, false); });
}

cell n_hDel(AMX* amx, const cell* params) {
  return Guard(params, 2, [&]() -> cell {
    CHashPool* pool = FindPool(amx, params);
    if (!pool) return 0;
    pool->Del(Arg(amx, params, 2).c_str());
    return 1;
  });
}

}  // namespace

const AMX_NATIVE_INFO PairVaultNatives[14] = {
    {"HLoad", n_hLoad},         {"HSave", n_hSave},     {"HClose", n_hClose},
    {"HAdd", n_hAdd},           {"HAddInt", n_hAddInt}, {"HAddFloat", n_hAddFloat},
    {"HGet", n_hGet},           {"HGetInt", n_hGetInt}, {"HGetFloat", n_hGetFloat},
    {"HGetIndex", n_hGetIndex}, {"HInc", n_hInc},       {"HDec", n_hDec},
    {"HDel", n_hDel},           {nullptr, nullptr},
};
