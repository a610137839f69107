// Writes a new version of a file beside it and puts it in place only when
// every byte reached the disk's cache, so a failed save never costs the old
// file. No fsync: the caller is a server's script thread.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

class FileReplacer {
 public:
  FileReplacer() = default;
  ~FileReplacer();  // an uncommitted file is removed
  FileReplacer(const FileReplacer&) = delete;
  FileReplacer& operator=(const FileReplacer&) = delete;

  // Starts a temporary file in the target's directory. False when the target
  // cannot be replaced (not writable, a directory, no such directory).
  bool Begin(const char* target);
  void Append(const char* data, size_t len) {
    if (len <= kBufferSize - m_used) {
      std::memcpy(m_buffer.get() + m_used, data, len);
      m_used += len;
    } else {
      AppendLarge(data, len);
    }
  }
  // Flushes, closes and renames over the target; false (and the target
  // untouched) if anything failed on the way.
  bool Commit();

 private:
  static const size_t kBufferSize = 64 * 1024;

  void AppendLarge(const char* data, size_t len);
  bool Flush();

  std::string m_target;
  std::string m_temp;
  int m_fd = -1;
  bool m_failed = false;
  // Kept off the stack: the caller may be any thread of the server.
  std::unique_ptr<char[]> m_buffer;
  size_t m_used = 0;
};
