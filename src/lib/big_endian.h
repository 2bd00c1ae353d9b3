// The one place where the coefficient table's byte order is decided: every
// field of that file is big-endian, whatever the host's order, when written
// and when read.
#ifndef KNOTFIT_BIG_ENDIAN_H
#define KNOTFIT_BIG_ENDIAN_H

#include <cstdint>
#include <cstring>

// Stores v in out[0..3], most significant byte first.
inline void StoreBigEndian32(unsigned char *out, uint32_t v) {
  out[0] = static_cast<unsigned char>(v >> 24);
  out[1] = static_cast<unsigned char>(v >> 16);
  out[2] = static_cast<unsigned char>(v >> 8);
  out[3] = static_cast<unsigned char>(v);
}

// The value stored by StoreBigEndian32 at in[0..3].
inline uint32_t LoadBigEndian32(const unsigned char *in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) |
         (uint32_t{in[2]} << 8) | uint32_t{in[3]};
}

// The bit pattern of a binary32 value, for StoreBigEndian32.
inline uint32_t Binary32Bits(float f) {
  uint32_t bits = 0;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// The binary32 value of a bit pattern from LoadBigEndian32.
inline float Binary32FromBits(uint32_t bits) {
  float f = 0.0f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

#endif
