// Script natives.
//
// Every native runs in one frame. The frame returns 0, touching nothing, when
// the plugin is not loaded or the call has fewer arguments than the native's
// row says it reads. The native then reads all its arguments and checks its
// destination, does its pool work and only then writes into the script. A
// pool pointer, and any text inside a pool, is never held across a call into
// the host (reading or writing script memory, logging): a host or a log hook
// may run script code that closes the pool. Only the host's string copy that
// writes a pool text into a checked array is handed the text itself. Without
// memory for an argument a native returns 0.
#include "natives.h"

#include <errno.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "../pool/HashPoolManager.h"
#include "CAmxString.h"
#include "CLocaleText.h"
#include "amxplugin.h"
#include "plugin.h"

namespace {

struct Call {
  AMX* amx;
  const cell* params;

  int32_t given() const { return params[0] / cell(sizeof(cell)); }
  AmxText Text(int index) const { return StrAmx::GetString(amx, params[index]); }
};

// The pool open under a name the script gave, whose length is known.
CHashPool* FindPool(const AmxText& name) {
  return CHashPoolManager::Find(name.c_str(), name.size());
}

bool Read(const AmxText& text) { return text.ok(); }
template <typename... More>
bool Read(const AmxText& text, const More&... more) {
  return text.ok() && Read(more...);
}

const size_t kPathSize = 252;

void CopyPath(char (&path)[kPathSize], const CHashPool* pool) {
  std::snprintf(path, sizeof path, "%s", pool->FileName());
}

// Logs the line about the pool's file, then looks the pool up again: the log
// function may run script code that closes it. Null when that happened;
// `path` then holds the file the line named, else the one bound now.
CHashPool* LogFile(const char* format, const char* name, const CHashPool* pool,
                   char (&path)[kPathSize]) {
  CopyPath(path, pool);
  if (logprintf) logprintf(format, name, path);
  CHashPool* again = CHashPoolManager::Find(name);
  if (again) CopyPath(path, again);
  return again;
}

// Operators learn why a load or save failed, in words they can act on. With
// no file bound before the call, the line names the file as the script gave
// it or as a failed load left it; copied, as the log may close the pool.
void LogFailure(const char* format, const char* name, const CHashPool& pool,
                CHashPool::Binding before) {
  const char* reason = before == CHashPool::kRefused ? "the name leaves scriptfiles/"
                       : before == CHashPool::kReserved
                           ? "the name is one of the plugin's own files"
                       : before == CHashPool::kLoadFailed ? "no file bound since loading it failed"
                       : before == CHashPool::kNoFile     ? "no file bound"
                                                          : ErrorText(pool.FileError());
  char file[kPathSize];
  std::snprintf(file, sizeof file, "%s", pool.WantedFile());
  if (logprintf) logprintf(format, name, file, reason);
}

// The one line that says a pool's journal stopped taking changes. The path
// is copied first: a log hook may close the pool.
void ReportJournal(const char* name, CHashPool* pool) {
  Journal* journal = pool->GetJournal();
  if (!journal || !journal->StoppedJustNow() || !logprintf) return;
  char path[Journal::kPathSize];
  std::snprintf(path, sizeof path, "%s", journal->Path());
  logprintf("Journaling hash %s to %s stopped: %s", name, path, ErrorText(journal->Error()));
}

// The script array a native writes a text into: argument `index`, with the
// array's size in cells after it when the script passed one.
struct Destination {
  cell param;
  bool sized;
  cell size;
  cell* whole;  // sized and entirely in the script's memory: no probe needed
};

Destination CheckDestination(const Call& call, int index) {
  Destination dest{call.params[index], call.given() > index, 0, nullptr};
  if (dest.sized) {
    dest.size = call.params[index + 1];
    dest.whole = StrAmx::WholeArray(call.amx, dest.param, dest.size);
  }
  return dest;
}

// Writes a pool text: cut to the destination's size if it has one; without
// one, or when the host refuses the array's last byte, cell by cell as far as
// the host lets us address. For that the text is copied first.
cell WriteText(const Call& call, const Destination& dest, const char* text, size_t len) {
  if (dest.whole) {
    StrAmx::SetString(dest.whole, text, len, dest.size);
    return 1;
  }
  if (dest.sized && dest.size <= 0) return 1;
  if (dest.sized) len = std::min(len, size_t(dest.size) - 1);
  AmxText copy;
  if (!copy.Assign(text, len)) return 0;
  StrAmx::SetString(call.amx, dest.param, copy.c_str(), copy.size());
  return 1;
}

cell AddText(const Call& call, const char* value) {
  AmxText name = call.Text(1), key = call.Text(2);
  if (!Read(name, key)) return 0;
  CHashPool* pool = FindPool(name);
  if (!pool) return 0;
  pool->Add(key.c_str(), value);
  ReportJournal(name.c_str(), pool);
  return 1;
}

cell Step(const Call& call, bool up) {
  AmxText name = call.Text(1), key = call.Text(2);
  if (!Read(name, key)) return 0;
  const uint32_t amount = call.given() == 3 ? uint32_t(call.params[3]) : 1u;
  CHashPool* pool = FindPool(name);
  if (!pool) return 0;
  const cell counted =
      up ? pool->Inc(key.c_str(), amount) : pool->Dec(key.c_str(), int32_t(amount));
  ReportJournal(name.c_str(), pool);
  return counted;
}

float CellToFloat(cell c) {
  float f;
  std::memcpy(&f, &c, sizeof f);
  return f;
}

// Why a journal could not be used, after its path in the line.
const char* JournalRefusal(int error) {
  switch (error) {
    case EWOULDBLOCK:
      return "belongs to another pool";
    case EBADMSG:
      return "is not a journal (it lacks the journal's mark)";
    case EPROTO:
      return "was written by a newer journal format";
    case EMLINK:
      return "has other names (hard links)";
    default:
      return nullptr;
  }
}

// With `journal`, the pool's journal is replayed after its file and takes
// every change from then on. Lines about the journal come last: a log hook
// may close the pool.
cell LoadJournal(const char* name, CHashPool* pool, const char* path) {
  char journal[Journal::kPathSize], aside[Journal::kPathSize] = {};
  Journal::PathFor(path, journal, sizeof journal);
  int error = pool->OpenJournal();
  Journal::Replayed replayed;
  if (!error) error = pool->ReplayJournal(&replayed);
  if (!error && replayed.stale) {
    std::snprintf(aside, sizeof aside, "%s", pool->GetJournal()->AsidePath());
  }
  if (error) pool->CloseJournal(false);
  if (!logprintf) return error ? 0 : 1;
  const uint64_t dropped = replayed.size - replayed.whole;
  if (!replayed.stale && dropped > 0) {
    logprintf(
        "Loading hash %s from %s: %lu bytes at the end of %s dropped (a torn or corrupt "
        "record)",
        name, path, static_cast<unsigned long>(dropped), journal);
  }
  if (aside[0]) {
    logprintf(
        "Loading hash %s from %s: the file changed since %s was written; the journal was not "
        "applied and is kept as %s",
        name, path, journal, aside);
  }
  if (const char* refusal = error ? JournalRefusal(error) : nullptr) {
    logprintf("Loading hash %s from %s: %s %s; this one is not journaled", name, path, journal,
              refusal);
  } else if (error) {
    logprintf("Loading hash %s from %s: journaling failed: %s", name, path, ErrorText(error));
  }
  return error ? 0 : 1;
}

cell n_hLoad(const Call& call) {
  AmxText name = call.Text(1), file = call.Text(2);
  if (!Read(name, file)) return 0;
  const bool journal = call.given() >= 3 && call.params[3] != 0;
  CHashPool* pool = FindPool(name);
  if (!pool) pool = CHashPoolManager::New(name.c_str());
  if (!pool) return 0;
  pool->SetName(name.c_str());
  pool->SetFileName(file.c_str());
  char path[kPathSize];
  pool = LogFile("Loading hash %s from %s", name.c_str(), pool, path);
  if (!pool) return 0;
  const CHashPool::Binding before = pool->FileBinding();
  pool->DropJournalUnlessKept(journal);
  if (pool->Load() == 0 && pool->FileError() != ENOENT) {
    pool->CloseJournal(false);  // its changes wait for a load that can read the file
    LogFailure("Loading hash %s from %s failed: %s", name.c_str(), *pool, before);
    return 0;
  }
  if (journal) return LoadJournal(name.c_str(), pool, path);
  if (Journal::HasRecords(path) && logprintf) {
    logprintf(
        "Loading hash %s from %s: %s.journal holds changes that were never saved; loading "
        "with journal recovers them",
        name.c_str(), path, path);
  }
  return 1;
}

cell n_hSave(const Call& call) {
  AmxText name = call.Text(1);
  if (!Read(name)) return 0;
  CHashPool* pool = FindPool(name);
  if (!pool) return 0;
  char path[kPathSize];
  pool = LogFile("Saving hash %s to %s", name.c_str(), pool, path);
  if (!pool) return 0;
  const CHashPool::Binding before = pool->FileBinding();
  if (pool->Save() == 0) {
    LogFailure("Saving hash %s to %s failed: %s", name.c_str(), *pool, before);
    return 0;
  }
  const unsigned unwritten = pool->Unwritten();
  ReportJournal(name.c_str(), pool);
  if (unwritten > 0 && logprintf) {
    logprintf(
        "Saving hash %s to %s: %u entries not written (a key or value holds a line feed, "
        "or a key is empty)",
        name.c_str(), path, unwritten);
  }
  return 1;
}

cell n_hClose(const Call& call) {
  AmxText name = call.Text(1);
  if (!Read(name)) return 0;
  return CHashPoolManager::Remove(name.c_str()) ? 1 : 0;
}

cell n_hAdd(const Call& call) {
  AmxText value = call.Text(3);
  if (!Read(value)) return 0;
  return AddText(call, value.c_str());
}

cell n_hAddInt(const Call& call) {
  char text[128] = {};
  std::snprintf(text, sizeof text, "%i", int(call.params[3]));
  return AddText(call, text);
}

// The longest float text, for the largest finite float, has 47 characters.
cell n_hAddFloat(const Call& call) {
  char text[128] = {};
  FormatFloat(text, sizeof text, double(CellToFloat(call.params[3])));
  return AddText(call, text);
}

cell n_hGet(const Call& call) {
  AmxText name = call.Text(1), key = call.Text(2);
  if (!Read(name, key)) return 0;
  const Destination dest = CheckDestination(call, 3);
  CHashPool* pool = FindPool(name);
  if (!pool) return 0;
  size_t len;
  const char* value = pool->Get(key.c_str(), key.size(), &len);
  return WriteText(call, dest, value, len);
}

cell n_hGetInt(const Call& call) {
  AmxText name = call.Text(1), key = call.Text(2);
  if (!Read(name, key)) return 0;
  CHashPool* pool = FindPool(name);
  if (!pool) return 0;
  const long n = std::strtol(pool->Get(key.c_str()), nullptr, 10);
  return n > INT32_MAX ? INT32_MAX : n < INT32_MIN ? INT32_MIN : cell(n);
}

cell n_hGetFloat(const Call& call) {
  AmxText name = call.Text(1), key = call.Text(2);
  if (!Read(name, key)) return 0;
  cell* target = StrAmx::CellAt(call.amx, call.params[3]);
  CHashPool* pool = FindPool(name);
  if (!pool) return 0;
  const float value = float(ParseFloat(pool->Get(key.c_str())));
  if (target) std::memcpy(target, &value, sizeof value);
  return 1;
}

// The value (HGetIndex) or the key (HGetKey) at a position of the order; both
// share the pool's remembered position. Reading keys is new, and like the
// other asking natives below it adds no name to the registry.
cell WritePosition(const Call& call, bool key) {
  AmxText name = call.Text(1);
  if (!Read(name)) return 0;
  const Destination dest = CheckDestination(call, 3);
  CHashPool* pool = key ? CHashPoolManager::Peek(name.c_str()) : FindPool(name);
  if (!pool) return 0;
  const uint32_t index = uint32_t(call.params[2]);
  const char* text = key ? pool->GetKey(index) : pool->GetIndex(index);
  return WriteText(call, dest, text, std::strlen(text));
}

cell n_hGetIndex(const Call& call) { return WritePosition(call, false); }

// Asking changes nothing: the natives below add no entry to the registry or
// a pool and run no growth check, so they can never change the order.

cell n_hGetKey(const Call& call) { return WritePosition(call, true); }

cell n_hExists(const Call& call) {
  AmxText name = call.Text(1), key = call.Text(2);
  if (!Read(name, key)) return 0;
  const CHashPool* pool = CHashPoolManager::Peek(name.c_str());
  return pool && pool->Exists(key.c_str()) ? 1 : 0;
}

cell n_hCount(const Call& call) {
  AmxText name = call.Text(1);
  if (!Read(name)) return -1;
  const CHashPool* pool = CHashPoolManager::Peek(name.c_str());
  return pool ? cell(pool->Count()) : -1;
}

cell n_hInc(const Call& call) { return Step(call, true); }

cell n_hDec(const Call& call) { return Step(call, false); }

cell n_hDel(const Call& call) {
  AmxText name = call.Text(1), key = call.Text(2);
  if (!Read(name, key)) return 0;
  CHashPool* pool = FindPool(name);
  if (!pool) return 0;
  pool->Del(key.c_str());
  ReportJournal(name.c_str(), pool);
  return 1;
}

struct NativeRow {
  const char* name;
  cell (*body)(const Call&);
  // Arguments the body reads; HInc and HDec take an amount, HGet, HGetIndex
  // and HGetKey a destination size after them, when given.
  int32_t reads;
};

constexpr NativeRow kNatives[] = {
    {"HLoad", n_hLoad, 2},         {"HSave", n_hSave, 1},     {"HClose", n_hClose, 1},
    {"HAdd", n_hAdd, 3},           {"HAddInt", n_hAddInt, 3}, {"HAddFloat", n_hAddFloat, 3},
    {"HGet", n_hGet, 3},           {"HGetInt", n_hGetInt, 2}, {"HGetFloat", n_hGetFloat, 3},
    {"HGetIndex", n_hGetIndex, 3}, {"HInc", n_hInc, 2},       {"HDec", n_hDec, 2},
    {"HDel", n_hDel, 2},           {"HGetKey", n_hGetKey, 3}, {"HExists", n_hExists, 2},
    {"HCount", n_hCount, 1},
};
const size_t kNativeCount = sizeof kNatives / sizeof kNatives[0];

template <size_t Row>
cell Framed(AMX* amx, const cell* params) {
  constexpr NativeRow row = kNatives[Row];
  if (!pAMXFunctions || params[0] / cell(sizeof(cell)) < row.reads) return 0;
  return row.body(Call{amx, params});
}

template <size_t... Rows>
constexpr std::array<AMX_NATIVE_INFO, kNativeCount + 1> Registration(std::index_sequence<Rows...>) {
  return {{{kNatives[Rows].name, &Framed<Rows>}..., {nullptr, nullptr}}};
}

constexpr std::array<AMX_NATIVE_INFO, kNativeCount + 1> kRegistration =
    Registration(std::make_index_sequence<kNativeCount>());

}  // namespace

const AMX_NATIVE_INFO* const PairVaultNatives = kRegistration.data();
