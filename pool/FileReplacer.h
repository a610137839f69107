// Writes a new version of a file beside it and puts it in place only once
// every byte is on the disk, so neither a failed save nor a crash or a power
// cut during one costs the old file.
//
// The temporary file is ".NAME.tmp.N" for a small N, locked with flock while
// its writer lives. The lock dies with the process, so a save that finds such
// a file unlocked knows its writer crashed and removes it, also when another
// server sharing the directory left it.
#pragma once

#include <limits.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "FileVersion.h"

class FileReplacer {
 public:
  FileReplacer() = default;
  ~FileReplacer();  // an uncommitted file is removed
  FileReplacer(const FileReplacer&) = delete;
  FileReplacer& operator=(const FileReplacer&) = delete;

  // Starts a temporary file in the target's directory. False when the target
  // cannot be replaced (not writable, a directory, no such directory).
  bool Begin(const char* target);
  // The same for a file of the plugin's own: whatever stands at the name, a
  // link included, is replaced and never written through; the new file is
  // created with `mode`, which the umask narrows.
  bool BeginOwn(const char* target, mode_t mode);
  // Room for `len` bytes (at most kFirstBuffer) at the end of the buffer,
  // flushing it first when needed; null when a flush has failed, and Commit
  // fails then too. Bytes put there count from Advance on.
  char* Space(size_t len) {
    return len <= m_capacity - m_used ? m_buffer + m_used : SpaceAfterFlush();
  }
  void Advance(size_t len) { m_used += len; }
  // Any number of bytes; a failure shows in Commit.
  void Append(const char* bytes, size_t len);
  // Flushes and syncs the new file; false if that failed. Commit does it
  // when it was not done.
  bool Sync();
  // The bytes written so far; after Sync, those of the new file.
  FileVersion Version() const;
  // Syncs and renames over the target; false (and the target untouched) if
  // anything failed on the way.
  bool Commit();
  // The same, handing over the new file's descriptor, open for reading and
  // writing and still locked; -1 on failure.
  int CommitKeepingOpen();
  // Syncs the directory that holds `path`, so that a new or changed name in
  // it survives a power cut; failures are ignored.
  static void SyncDirectory(const char* path);
  // The errno of the step that failed.
  int Error() const { return m_error; }
  // Bytes written to the file so far.
  uint64_t Written() const { return m_written; }

 private:
  // A file that outgrows the first buffer gets a larger one: the page cache
  // takes large writes in large pieces, and a save of 1e6 entries spends much
  // less time in the kernel with 1 MB than with 64 KB writes (measured in
  // bench/). Small files never pay for the large buffer.
  static const size_t kFirstBuffer = 64 * 1024;
  static const size_t kLargeBuffer = 1024 * 1024;

  // Temporary files tried under the small numbers before unique names are
  // used, where the file system keeps no locks.
  static const int kSlots = 4;

  bool Fail(int error);
  bool Start(mode_t mode);
  bool TemporaryName(int directory, int attempt);
  bool CreateTemporary(int directory, mode_t mode);
  char* SpaceAfterFlush();
  void Grow();
  bool Flush();

  char m_target[PATH_MAX] = {};
  char m_temp[PATH_MAX] = {};  // empty while there is no file of ours to remove
  int m_fd = -1;
  int m_error = 0;
  // Kept off the stack: the caller may be any thread of the server.
  char* m_buffer = nullptr;
  size_t m_capacity = 0;
  size_t m_used = 0;
  uint64_t m_written = 0;
  uint32_t m_crc = 0;  // of the bytes written
  bool m_synced = false;
};
