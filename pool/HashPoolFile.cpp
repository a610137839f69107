// Pool files: a key line and a value line per entry, in iteration order.
#include <errno.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "FileReplacer.h"
#include "HashPool.h"
#include "PoolFileReader.h"

namespace {

const char kPrefix[] = "scriptfiles";
const size_t kPrefixLen = sizeof kPrefix - 1;
const size_t kMaxPath = 250;
// Records up to this size are copied word by word into the file's buffer.
const size_t kShortRecord = 4096;

bool IsDigits(const char* p, const char* end) {
  if (p == end) return false;
  for (; p < end; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

// The plugin's own files beside a pool file: "NAME.journal", journals set
// aside as "NAME.journal.stale" or "NAME.journal.stale.N", and the
// temporary files of saves, ".NAME.tmp.N" or ".NAME.tmp.PID.N". A pool bound
// to one of them would replay, cut or remove another pool's file.
bool IsOwnFileName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const char* base = slash ? slash + 1 : path;
  const char* end = base + std::strlen(base);
  static const char kJournal[] = ".journal", kStale[] = ".journal.stale", kTemp[] = ".tmp.";
  if (size_t(end - base) >= sizeof kJournal - 1 &&
      std::strcmp(end - (sizeof kJournal - 1), kJournal) == 0)
    return true;
  for (const char* p = base; (p = std::strstr(p, kStale)) != nullptr; ++p) {
    const char* after = p + sizeof kStale - 1;
    if (after == end || (*after == '.' && IsDigits(after + 1, end))) return true;
  }
  if (base[0] != '.') return false;
  for (const char* p = base; (p = std::strstr(p, kTemp)) != nullptr; ++p) {
    const char* number = p + sizeof kTemp - 1;
    const char* dot = std::strchr(number, '.');
    if (IsDigits(number, end) || (dot && IsDigits(number, dot) && IsDigits(dot + 1, end)))
      return true;
  }
  return false;
}

bool HasParentComponent(const char* path) {
  for (const char* p = path; (p = std::strstr(p, "..")) != nullptr; p += 2) {
    const bool starts = p == path || p[-1] == '/';
    const bool ends = p[2] == '\0' || p[2] == '/';
    if (starts && ends) return true;
  }
  return false;
}

// Nonzero when one of the word's bytes is a line feed.
uint64_t LineFeedIn(uint64_t word) {
  const uint64_t x = word ^ 0x0a0a0a0a0a0a0a0aull;
  return (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
}
uint32_t LineFeedIn(uint32_t word) {
  const uint32_t x = word ^ 0x0a0a0a0aU;
  return (x - 0x01010101U) & ~x & 0x80808080U;
}

// Copies sizeof(Word) bytes; nonzero when they hold a line feed.
template <typename Word>
uint64_t Move(char* to, const char* from) {
  Word word;
  std::memcpy(&word, from, sizeof word);
  std::memcpy(to, &word, sizeof word);
  return LineFeedIn(word);
}

// Copies a text of at least one byte; nonzero when it holds a line feed.
// Texts differ in length from entry to entry, so a copy that branches on the
// length at every few bytes mispredicts; whole words, the last ones
// overlapping, need few branches. Reads and writes only the text's bytes.
uint64_t CopyText(char* to, const char* from, size_t len) {
  if (len >= 8) {
    uint64_t lineFeed = 0;
    for (size_t i = 0; i + 8 < len; i += 8) lineFeed |= Move<uint64_t>(to + i, from + i);
    return lineFeed | Move<uint64_t>(to + len - 8, from + len - 8);
  }
  if (len >= 4) return Move<uint32_t>(to, from) | Move<uint32_t>(to + len - 4, from + len - 4);
  to[0] = from[0];
  to[len / 2] = from[len / 2];
  to[len - 1] = from[len - 1];
  return (from[0] == '\n') | (from[len / 2] == '\n') | (from[len - 1] == '\n');
}

// The reader skips a blank line where a key is expected and takes carriage
// returns off the end of every line: a key line must keep something else.
bool KeyReadsBack(const char* key, size_t len) {
  while (len > 0 && key[len - 1] == '\r') --len;
  return len > 0;
}

// A key line and a value line. Entries with an empty value (those a read of
// a missing key leaves) are passed over; false for an entry with a value
// that no pair of lines could give back.
bool AppendRecord(FileReplacer& file, const CHashPool::Map::Entry& e) {
  const size_t keyLen = e.keyLen;
  const size_t valueLen = e.value.size();
  if (valueLen == 0) return true;
  const char* key = e.key();
  const char* value = e.value.c_str();
  if (!KeyReadsBack(key, keyLen)) return false;
  const size_t size = keyLen + valueLen + 2;
  if (size > kShortRecord) {
    if (std::memchr(key, '\n', keyLen) || std::memchr(value, '\n', valueLen)) return false;
    file.Append(key, keyLen);
    file.Append("\n", 1);
    file.Append(value, valueLen);
    file.Append("\n", 1);
    return true;
  }
  char* out = file.Space(size);
  if (!out) return true;  // the save fails as a whole
  if (CopyText(out, key, keyLen) | CopyText(out + keyLen + 1, value, valueLen)) return false;
  out[keyLen] = '\n';
  out[keyLen + 1 + valueLen] = '\n';
  file.Advance(size);
  return true;
}

}  // namespace

bool CHashPool::Saves(const Map::Entry& e) {
  return !e.value.empty() && KeyReadsBack(e.key(), e.keyLen) &&
         !std::memchr(e.key(), '\n', e.keyLen) &&
         !std::memchr(e.value.c_str(), '\n', e.value.size());
}

void CHashPool::SetFileName(char const* name) {
  const bool underPrefix =
      std::strlen(name) > kPrefixLen && !std::strncmp(name, kPrefix, kPrefixLen);
  std::snprintf(m_szFileName, kMaxPath + 1, underPrefix ? "%s" : "scriptfiles/%s", name);
  m_eBinding = kBound;
  const Binding refused = HasParentComponent(m_szFileName) ? kRefused
                          : IsOwnFileName(m_szFileName)    ? kReserved
                                                           : kBound;
  if (refused != kBound) {
    std::snprintf(m_szFileName, kMaxPath + 1, "%s", name);
    m_eBinding = refused;
  }
}

bool CHashPool::BindPath(char const* path) {
  if (std::strlen(path) > kMaxPath) return false;
  std::strcpy(m_szFileName, path);
  m_eBinding = IsOwnFileName(path) ? kReserved : kBound;
  return m_eBinding == kBound;
}

int CHashPool::FileFailed(int error) {
  m_iFileError = error;
  return 0;
}

int CHashPool::Save() {
  if (m_eBinding != kBound) return FileFailed(EINVAL);
  FileReplacer file;
  if (!file.Begin(m_szFileName)) return FileFailed(file.Error());
  uint32_t unwritten = 0;
  // A long value lives in a buffer of its own, away from its entry.
  m_Hash.for_each([&](const Map::Entry& e) { unwritten += AppendRecord(file, e) ? 0 : 1; },
                  [](const Map::Entry& e) { __builtin_prefetch(e.value.c_str()); });
  if (!file.Sync()) return FileFailed(file.Error());
  if (m_pJournal) m_pJournal->Saving(file.Version());
  if (!file.Commit()) return FileFailed(file.Error());
  m_uiUnwritten = unwritten;
  m_version = file.Version();
  if (m_pJournal) m_pJournal->Empty(m_version);
  return 1;
}

int CHashPool::Load() {
  if (m_eBinding != kBound) return FileFailed(EINVAL);
  PoolFileReader file;
  if (const int error = file.Open(m_szFileName)) {
    if (error != ENOENT) m_eBinding = kLoadFailed;
    if (error == ENOENT) m_version = FileVersion::Missing();
    return FileFailed(error);
  }
  m_Hash.clear();
  int error = 0;
  while (file.Next()) {
    const PoolFileReader::Line &key = file.Key(), &value = file.Value();
    if (!Set(key.text, key.len, value.text, value.len)) {
      error = ENOMEM;
      break;
    }
  }
  if (!error) error = file.Error();
  if (!error) {
    m_version = file.Version();
    return 1;
  }
  m_eBinding = kLoadFailed;
  return FileFailed(error);
}
