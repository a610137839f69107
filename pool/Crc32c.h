// CRC-32C (Castagnoli), which checks journal records and names the version
// of a pool file.
#pragma once

#include <cstddef>
#include <cstdint>

// Extends `crc` (0 to start) over the bytes.
uint32_t Crc32c(uint32_t crc, const void* data, size_t len);
