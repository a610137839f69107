// A pool's changes since its last save, appended to a file beside the pool
// file before each changing native returns, so that a crash of the server
// loses none of them. Appends reach the kernel; the syncer's thread takes
// them to the disk within about a second, so that a power cut costs at most
// that much.
//
// The file starts with a mark and the format's number (kHeaderSize bytes),
// then a run of records, each a CRC-32C of the rest (4 bytes, little
// endian), a kind, the key's length and, for a value, the value's length
// (LEB128), then the key's bytes and the value's. A value sets its key, a
// deletion removes it, and a clearing record, which starts every rewritten
// journal, empties the pool first. A version record names a version of the
// pool file (FileVersion: length, then CRC, little endian): the first record
// names the one the journal was started on, and a save names the one it is
// about to put in place. Replay applies the records that follow the first
// record naming the version on disk (the pool held that version there, so
// the records after a later mention of it change nothing that earlier ones
// did not); a journal that names no such version belongs to another file
// and is never applied. A record that is torn or
// fails its check ends the journal. One pool owns a journal at a time: it
// holds the file's flock.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "FileVersion.h"
#include "JournalSyncer.h"
#include "PoolValue.h"
#include "StringHashTable.h"

class Journal {
 public:
  enum Kind : uint8_t { kSet = 'S', kDelete = 'D', kClear = 'C', kVersion = 'V' };
  static const size_t kHeaderSize = 8;
  // Room for a pool path of 250 characters, ".journal.stale." and a number.
  static const size_t kPathSize = 280;
  // Applies one record; false when it could not (no memory).
  typedef bool (*Apply)(void* context, Kind kind, const char* key, size_t keyLen, const char* value,
                        size_t valueLen);

  // What a replay found, from the file's start.
  struct Replayed {
    uint64_t whole = 0;    // bytes up to the end of the last whole record
    uint64_t size = 0;     // bytes in the file
    uint64_t applied = 0;  // records applied
    // It holds changes made on top of another version of the pool file.
    bool stale = false;
  };

  Journal() = default;
  ~Journal();  // closes it; the file stays for the next load to replay
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // The journal path of a pool file: the same path with ".journal" added.
  // False when it does not fit.
  static bool PathFor(const char* poolPath, char* path, size_t size);
  // Whether the pool file at that path has a journal with records in it.
  static bool HasRecords(const char* poolPath);

  // Reads the journal open on `fd` without changing it: applies the records
  // that belong to `file`. 0, or an errno: EBADMSG when the file does not
  // start with the mark, EPROTO when a newer format wrote it, ENOMEM when
  // `apply` failed.
  static int Read(int fd, const FileVersion& file, Apply apply, void* context, Replayed* out);

  // Opens and locks the journal of the pool file, whose version is `file`,
  // creating it (owner read and write added to the pool file's mode) or
  // starting an empty file. 0, or an
  // errno: EWOULDBLOCK when another pool, here or in another server, owns
  // it; EBADMSG, EPROTO as Read says; EMLINK when the file has other names;
  // ELOOP or EINVAL for a link or something else than a file.
  int Open(const char* poolPath, const FileVersion& file);
  const char* Path() const { return m_path; }

  // Applies the records that belong to `file` onto the pool as that file
  // gave it, then cuts off what follows the last whole record. 0, or an
  // errno (and then nothing is cut). A stale journal is left for SetAside.
  int Replay(const FileVersion& file, Apply apply, void* context, Replayed* out);
  // Moves a stale journal to a name of its own beside it, never replacing a
  // file, and starts an empty one. 0, or an errno.
  int SetAside();
  // Where SetAside put it.
  const char* AsidePath() const { return m_aside; }

  // Appends one record with one system call. When that fails the journal is
  // cut back to its last whole record and stops taking records.
  void Append(Kind kind, const char* key, size_t keyLen, const char* value, size_t valueLen);
  // Past its bound (twice the larger of the pool file and the journal after
  // its last rewrite, and at least 1 MB), the journal wants rewriting.
  bool Outgrown() const { return m_size > m_bound; }
  // Replaces the journal, atomically, with a clearing record and the table's
  // entries on top of the file's version; a stopped journal takes records
  // again. On failure the old journal goes on, and the bound is raised.
  // 0, or the errno of the failure.
  int Rewrite(const StringHashTable<PoolValue>& table);
  // A save is about to put `version` in place: recorded on the disk first,
  // so that a load finds it applied if the save went through.
  void Saving(const FileVersion& version);
  // After the pool was saved as `version`: empties the journal, on the disk
  // too, which takes records again if it had stopped.
  void Empty(const FileVersion& version);

  // The errno that stopped it; 0 while it takes records.
  int Error() const { return m_error; }
  // True once after it stopped, for the one line that says so.
  bool StoppedJustNow();

  // Deletes the file, if its name still holds it, and closes it: the pool's
  // unsaved changes are dropped.
  void Discard();

 private:
  static const uint64_t kLeastBound = 1 << 20;

  int OpenPath();
  // Takes `fd` (or -1) as the journal's file, closing the one before.
  void Hold(int fd);
  int Start(int fd, const struct stat& held);
  bool HoldsName() const;
  bool Cut(uint64_t size);
  void Stop(int error);
  // Twice the size, and at least kLeastBound.
  void SetBound(uint64_t size);

  char m_path[kPathSize] = {};
  char m_aside[kPathSize] = {};
  mode_t m_mode = 0666;  // for a new journal
  int m_fd = -1;
  JournalSyncer::Slot* m_slot = nullptr;
  uint64_t m_size = 0;  // bytes of the header and whole records
  uint64_t m_bound = kLeastBound;
  FileVersion m_file;  // of the pool file at its last load or save
  int m_error = 0;
  bool m_reported = false;
};
