// A pool's changes since its last save, appended to a file beside the pool
// file before each changing native returns, so that a crash of the server
// loses none of them. Appends reach the kernel, not the disk: a power cut
// may still cost the last changes.
//
// The file is a run of records, each a CRC-32C of the rest (4 bytes, little
// endian), a kind, the key's length and, for a value, the value's length
// (LEB128), then the key's bytes and the value's. Replay applies them in
// order onto the pool as its file gave it: a value sets its key, a deletion
// removes it, and a clearing record, which starts every rewritten journal,
// empties the pool first. A record that is torn or fails its check ends the
// journal. One pool owns a journal at a time: it holds the file's flock.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "PoolValue.h"
#include "StringHashTable.h"

class Journal {
 public:
  enum Kind : uint8_t { kSet = 'S', kDelete = 'D', kClear = 'C' };
  // Room for a pool path of 250 characters and ".journal".
  static const size_t kPathSize = 272;
  // Applies one record; false when it could not (no memory).
  typedef bool (*Apply)(void* context, Kind kind, const char* key, size_t keyLen, const char* value,
                        size_t valueLen);

  Journal() = default;
  ~Journal();  // closes it; the file stays for the next load to replay
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // The journal path of a pool file: the same path with ".journal" added.
  // False when it does not fit.
  static bool PathFor(const char* poolPath, char* path, size_t size);
  // Whether the pool file at that path has a journal with records in it.
  static bool HasRecords(const char* poolPath);

  // Opens and locks the journal of the pool file, creating it with the pool
  // file's mode. 0, or an errno: EWOULDBLOCK when another pool, here or in
  // another server, owns it.
  int Open(const char* poolPath);
  const char* Path() const { return m_path; }

  // Applies every whole record from the start, then cuts off what follows the
  // last of them; `dropped` counts those bytes. 0, or an errno (ENOMEM when
  // `apply` failed, and then nothing is cut).
  int Replay(Apply apply, void* context, uint64_t* dropped);

  // Appends one record with one system call. When that fails the journal is
  // cut back to its last whole record and stops taking records.
  void Append(Kind kind, const char* key, size_t keyLen, const char* value, size_t valueLen);
  // Past its bound (twice the larger of the pool file and the journal after
  // its last rewrite, and at least 1 MB), the journal wants rewriting.
  bool Outgrown() const { return m_size > m_bound; }
  // Replaces the journal, atomically, with a clearing record and the table's
  // entries. On failure the old journal goes on, and the bound is raised.
  void Rewrite(const StringHashTable<PoolValue>& table);
  // After the pool was saved to a file of that size: empties the journal,
  // which takes records again if it had stopped.
  void Empty(uint64_t fileSize);

  // The errno that stopped it; 0 while it takes records.
  int Error() const { return m_error; }
  // True once after it stopped, for the one line that says so.
  bool StoppedJustNow();

  // Deletes the file and closes it: the pool's unsaved changes are dropped.
  void Discard();

 private:
  static const uint64_t kLeastBound = 1 << 20;

  void Stop(int error);
  // Twice the size, and at least kLeastBound.
  void SetBound(uint64_t size);

  char m_path[kPathSize] = {};
  int m_fd = -1;
  uint64_t m_size = 0;  // bytes of whole records
  uint64_t m_bound = kLeastBound;
  uint64_t m_fileSize = 0;  // of the pool file at its last load or save
  int m_error = 0;
  bool m_reported = false;
};
