// The one place where the coefficient table's byte order is decided: every
// field of that file is big-endian, whatever the host's order, when written
// and when read: the 16-bit version and form, the 32-bit count and binary32
// fields, the binary64 origin and fields.
#ifndef KNOTFIT_BIG_ENDIAN_H
#define KNOTFIT_BIG_ENDIAN_H

#include <bit>
#include <cstdint>
#include <cstring>

// Stores v in out[0..3], most significant byte first. Where the compiler
// tells the host's order, as one swapped word: byte by byte, compilers may
// merge the stores of neighbouring fields into a detour through the stack
// that costs more than the record.
inline void StoreBigEndian32(unsigned char *out, uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap32(v);
  std::memcpy(out, &v, sizeof v);
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  std::memcpy(out, &v, sizeof v);
#else
  out[0] = static_cast<unsigned char>(v >> 24);
  out[1] = static_cast<unsigned char>(v >> 16);
  out[2] = static_cast<unsigned char>(v >> 8);
  out[3] = static_cast<unsigned char>(v);
#endif
}

// The value stored by StoreBigEndian32 at in[0..3].
inline uint32_t LoadBigEndian32(const unsigned char *in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) |
         (uint32_t{in[2]} << 8) | uint32_t{in[3]};
}

// v in out[0..1], most significant byte first, and the value stored there.
inline void StoreBigEndian16(unsigned char *out, uint16_t v) {
  out[0] = static_cast<unsigned char>(v >> 8);
  out[1] = static_cast<unsigned char>(v);
}

inline uint16_t LoadBigEndian16(const unsigned char *in) {
  return static_cast<uint16_t>((in[0] << 8) | in[1]);
}

// A binary32 field: its bit pattern as one 32-bit word.
inline void StoreBinary32(unsigned char *out, float f) {
  StoreBigEndian32(out, std::bit_cast<uint32_t>(f));
}

inline float LoadBinary32(const unsigned char *in) {
  return std::bit_cast<float>(LoadBigEndian32(in));
}

// A binary64 field: its bit pattern as two 32-bit words, the high one first.
inline void StoreBinary64(unsigned char *out, double d) {
  const auto bits = std::bit_cast<uint64_t>(d);
  StoreBigEndian32(out, static_cast<uint32_t>(bits >> 32));
  StoreBigEndian32(out + 4, static_cast<uint32_t>(bits));
}

inline double LoadBinary64(const unsigned char *in) {
  return std::bit_cast<double>(uint64_t{LoadBigEndian32(in)} << 32 |
                               LoadBigEndian32(in + 4));
}

#endif
