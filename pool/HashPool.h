// One named pool of string keys and string values, with its counters and its
// file under "scriptfiles/".
#pragma once

#include <cstddef>
#include <cstdint>

#include "FileVersion.h"
#include "Journal.h"
#include "PoolValue.h"
#include "StringHashTable.h"

// True when every character is a decimal digit; true for the empty text.
bool IsNum(const char* text);

class CHashPool {
 public:
  typedef StringHashTable<PoolValue> Map;

  explicit CHashPool(char const* name);
  ~CHashPool();  // a journal stays on disk
  CHashPool(const CHashPool&) = delete;
  CHashPool& operator=(const CHashPool&) = delete;

  // Keeps the first 127 characters.
  void SetName(char const* name);

  int Add(char const* key, char const* value);
  // Inserts a missing key with an empty value. The text stays valid until the
  // pool's next operation.
  char const* Get(char const* key);
  // The same for a key of `keyLen` bytes; the value's length goes to `valueLen`.
  char const* Get(char const* key, size_t keyLen, size_t* valueLen);
  int Del(char const* key);
  // The value of the entry at that position of the iteration order, or "".
  char const* GetIndex(unsigned int index);
  // Its key, or "". Index reads of keys and values share one walk.
  char const* GetKey(unsigned int index);
  // Whether the key is there; adds nothing and runs no growth check.
  bool Exists(char const* key) const;

  // Step the decimal counter under the key; 0 when its text is not an
  // optional minus followed by digits, and nothing was counted.
  int Inc(char const* key, unsigned int amount);
  int Dec(char const* key, int amount);

  // Binds the pool to a path under "scriptfiles/"; a name that would climb
  // out with "..", or that names one of the plugin's own files (journals and
  // temporary files of saves), binds no file.
  void SetFileName(char const* name);
  // Binds the pool to the path as it is, for tools run outside a server.
  // False when it is longer than a bound path may be, or names one of the
  // plugin's own files (kReserved).
  bool BindPath(char const* path);
  // 1 when the whole pool reached the file and the disk; on failure the old
  // file stays. Entries a line cannot hold are left out (Unwritten).
  int Save();
  // 1 when the file was read; then the pool holds exactly the file's records.
  // 0 when it could not be: a missing file leaves pool and path as they were;
  // any other failure leaves the pool's entries (perhaps some of the file's)
  // but no file bound, so that no save can replace a file it did not read.
  int Load();
  // The errno of the last Load or Save that returned 0 (ENOENT: no file).
  int FileError() const { return m_iFileError; }
  // What the file held at the last Load or Save that read or wrote it.
  const FileVersion& Version() const { return m_version; }
  // Entries with a value that the last successful Save could not write: a
  // key or value holds a line feed, or the key would read back empty.
  uint32_t Unwritten() const { return m_uiUnwritten; }
  // Whether a save writes the entry: its value is not empty and a pair of
  // lines gives it back.
  static bool Saves(const Map::Entry& e);

  enum Binding { kNoFile, kBound, kRefused, kReserved, kLoadFailed };
  Binding FileBinding() const { return m_eBinding; }
  // "" while no file is bound.
  char const* FileName() const { return m_eBinding == kBound ? m_szFileName : ""; }
  // The bound path; else the path a failed load unbound, or the name as the
  // script gave it when it was refused.
  char const* WantedFile() const { return m_szFileName; }

  // The journal, which takes every change until the next save, when the
  // script asked for one. Opens the journal of the bound file: 0, or an
  // errno (EWOULDBLOCK: another pool owns it).
  int OpenJournal();
  // Applies the journal's records that belong to the file's version onto
  // the pool as its file gave it; a torn or corrupt end is cut off. A journal
  // made on another version is set aside, unapplied, and a fresh one started
  // (`out` tells). Entries the pool kept over a missing file are journaled.
  // 0, or an errno.
  int ReplayJournal(Journal::Replayed* out);
  // The same onto this pool from a journal open on `fd` that no pool owns,
  // changing no file: for tools that show what a load would give.
  int ReadJournal(int fd, Journal::Replayed* out);
  // A load drops the pool's unsaved changes, and so the journal that holds
  // them, unless `keep` asks to replay that same journal. A journal that
  // stopped is closed, to be opened afresh.
  void DropJournalUnlessKept(bool keep);
  // Closes the journal; `discard` deletes it with the changes it holds.
  void CloseJournal(bool discard);
  Journal* GetJournal() { return m_pJournal; }

  // Drops every entry; the bucket count stays.
  void Clear() { m_Hash.clear(); }
  uint32_t Count() const { return m_Hash.size(); }
  char const* Name() const { return m_szName; }
  const Map& Table() const { return m_Hash; }

 private:
  int FileFailed(int error);

  // Find or insert the key, then store the value; a new key whose value cannot
  // be stored is taken out again. False when the value was not stored.
  bool Set(const char* key, size_t keyLen, const char* value, size_t valueLen);
  int Step(char const* key, unsigned int delta);
  // Hands a change to the journal, which is open.
  void Record(Journal::Kind kind, const char* key, size_t keyLen, const char* value,
              size_t valueLen);
  static bool ApplyRecord(void* pool, Journal::Kind kind, const char* key, size_t keyLen,
                          const char* value, size_t valueLen);

  char m_szName[128];
  char m_szFileName[252];
  Map m_Hash;
  Binding m_eBinding = kNoFile;
  Journal* m_pJournal = nullptr;
  int m_iFileError = 0;
  FileVersion m_version;
  uint32_t m_uiUnwritten = 0;
};
