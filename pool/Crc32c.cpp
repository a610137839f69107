#include "Crc32c.h"

#include <cstring>

namespace {

// Eight bytes a step.
struct CrcTables {
  uint32_t t[8][256];
};

constexpr CrcTables MakeCrcTables() {
  CrcTables c{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
    c.t[0][i] = crc;
  }
  for (int j = 1; j < 8; ++j) {
    for (uint32_t i = 0; i < 256; ++i)
      c.t[j][i] = (c.t[j - 1][i] >> 8) ^ c.t[0][c.t[j - 1][i] & 0xFF];
  }
  return c;
}

constexpr CrcTables kCrc = MakeCrcTables();

}  // namespace

uint32_t Crc32c(uint32_t crc, const void* data, size_t len) {
  const auto& t = kCrc.t;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (; len >= 8; p += 8, len -= 8) {
    uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + 4, 4);
    lo ^= crc;
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
  }
  for (; len > 0; ++p, --len) crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xFF];
  return ~crc;
}
