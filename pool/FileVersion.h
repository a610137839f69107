// Which bytes a pool file held: its length and their CRC-32C, taken in the
// same pass as the load or save that read or wrote them. A journal names the
// version its records apply to.
#pragma once

#include <cstdint>

struct FileVersion {
  static const uint64_t kMissingLength = UINT64_MAX;

  uint64_t length = kMissingLength;
  uint32_t crc = 0;

  // No file under the name is a version of its own.
  static FileVersion Missing() { return FileVersion(); }
  bool missing() const { return length == kMissingLength; }
  bool operator==(const FileVersion& o) const { return length == o.length && crc == o.crc; }
  bool operator!=(const FileVersion& o) const { return !(*this == o); }
};
