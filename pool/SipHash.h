// SipHash and HalfSipHash (Aumasson and Bernstein), with the rounds per
// block (C) and at the end (D) as parameters: 1 and 3 serve lookups, 2 and 4
// are the published reference, which the tests check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "words are read little-endian");

namespace sip {

inline uint64_t Rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
inline uint32_t Rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline void Round(uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3) {
  v0 += v1, v1 = Rotl(v1, 13), v1 ^= v0, v0 = Rotl(v0, 32);
  v2 += v3, v3 = Rotl(v3, 16), v3 ^= v2;
  v0 += v3, v3 = Rotl(v3, 21), v3 ^= v0;
  v2 += v1, v1 = Rotl(v1, 17), v1 ^= v2, v2 = Rotl(v2, 32);
}

inline void Round(uint32_t& v0, uint32_t& v1, uint32_t& v2, uint32_t& v3) {
  v0 += v1, v1 = Rotl(v1, 5), v1 ^= v0, v0 = Rotl(v0, 16);
  v2 += v3, v3 = Rotl(v3, 8), v3 ^= v2;
  v0 += v3, v3 = Rotl(v3, 7), v3 ^= v0;
  v2 += v1, v1 = Rotl(v1, 13), v1 ^= v2, v2 = Rotl(v2, 16);
}

template <typename Word>
Word Load(const void* p) {
  Word w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The last len % W bytes, little-endian, under the length's low byte. Read in
// at most three loads, whose overlap does no harm, rather than byte by byte.
template <typename Word>
Word LastBlock(const unsigned char* data, size_t len) {
  const size_t rest = len % sizeof(Word);
  const Word top = Word(len) << (8 * (sizeof(Word) - 1));
  if (rest == 0) return top;
  if (len >= sizeof(Word))
    return top | Load<Word>(data + len - sizeof(Word)) >> (8 * (sizeof(Word) - rest));
  if (rest >= 4) {
    return top | Load<uint32_t>(data) | Word(Load<uint32_t>(data + rest - 4)) << (8 * (rest - 4));
  }
  return top | Word(data[0]) | Word(data[rest / 2]) << (8 * (rest / 2)) |
         Word(data[rest - 1]) << (8 * (rest - 1));
}

// Both variants differ only in the word, the constants and what they return.
template <int C, int D, typename Word>
void Compress(Word& v0, Word& v1, Word& v2, Word& v3, const char* data, size_t len) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  for (size_t blocks = len / sizeof(Word); blocks > 0; --blocks, p += sizeof(Word)) {
    const Word m = Load<Word>(p);
    v3 ^= m;
    for (int i = 0; i < C; ++i) Round(v0, v1, v2, v3);
    v0 ^= m;
  }
  const Word m = LastBlock<Word>(reinterpret_cast<const unsigned char*>(data), len);
  v3 ^= m;
  for (int i = 0; i < C; ++i) Round(v0, v1, v2, v3);
  v0 ^= m;
  v2 ^= 0xff;
  for (int i = 0; i < D; ++i) Round(v0, v1, v2, v3);
}

}  // namespace sip

template <int C, int D>
uint64_t SipHash(uint64_t k0, uint64_t k1, const char* data, size_t len) {
  uint64_t v0 = k0 ^ 0x736f6d6570736575ull, v1 = k1 ^ 0x646f72616e646f6dull;
  uint64_t v2 = k0 ^ 0x6c7967656e657261ull, v3 = k1 ^ 0x7465646279746573ull;
  sip::Compress<C, D>(v0, v1, v2, v3, data, len);
  return v0 ^ v1 ^ v2 ^ v3;
}

// The 32-bit result.
template <int C, int D>
uint32_t HalfSipHash(uint32_t k0, uint32_t k1, const char* data, size_t len) {
  uint32_t v0 = k0, v1 = k1, v2 = k0 ^ 0x6c796765u, v3 = k1 ^ 0x74656462u;
  sip::Compress<C, D>(v0, v1, v2, v3, data, len);
  return v1 ^ v3;
}
