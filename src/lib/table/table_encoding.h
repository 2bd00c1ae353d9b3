// The coefficient table's encoding, in one place for every writer of it (the
// library's table_bytes and write_table, the program's CS/<name>): the knot
// count, then one record of five big-endian binary32 fields x, y, a, b, c per
// knot, from knot n-1 down to knot 0; and what binary32 can hold.
#ifndef KNOTFIT_LIB_TABLE_ENCODING_H
#define KNOTFIT_LIB_TABLE_ENCODING_H

#include "../fit/checks.h"
#include "big_endian.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace knotfit {

// Doubles from here on round to infinity in binary32: FLT_MAX plus half its
// spacing, a tie that rounds to the even neighbour 2^128.
constexpr double kBinary32Overflow = 0x1.ffffffp+127;

// The table's one overflow rule: whether v is finite once rounded to
// binary32.
inline bool FitsBinary32(double v) {
  return std::fabs(v) < kBinary32Overflow;
}

// v rounded to binary32; infinity beyond its range, as IEEE narrowing gives
// it (C++ leaves narrowing such a value undefined).
inline float Narrow(double v) {
  if (FitsBinary32(v) || std::isnan(v)) {
    return static_cast<float>(v);
  }
  return v > 0 ? HUGE_VALF : -HUGE_VALF;
}

// A fit as its table stores it: x, y and the slopes a in double, and the
// segment coefficients either in double (b, c) or already rounded by Narrow
// to binary32 pairs (bc: b and c of knot i at 2i and 2i+1).
struct TableFields {
  int32_t n = 0;
  const double *x = nullptr, *y = nullptr, *a = nullptr;
  const double *b = nullptr, *c = nullptr;
  const float *bc = nullptr;

  // Knot i's five fields as the table stores them: x, y, a, b, c.
  void Record(int32_t i, float out[5]) const {
    out[0] = Narrow(x[i]);
    out[1] = Narrow(y[i]);
    out[2] = Narrow(a[i]);
    if (bc != nullptr) {
      std::memcpy(out + 3, bc + 2 * i, 2 * sizeof(float));
    } else {
      out[3] = Narrow(b[i]);
      out[4] = Narrow(c[i]);
    }
  }
};

// Why field ("b") of point i cannot be stored: "b of point 3 (1e+39)
// overflows binary32", "... is not finite (nan)". Empty when it can.
std::string FieldProblem(const char *field, int32_t i, double v);

// The first field that binary32 cannot hold, all x first, then y, a, b and
// c (a y that overflows is the cause, the slopes it spoils only the effect),
// in FieldProblem's words, about set to that field of that point. Pairs
// already rounded are their maker's to check, with FieldProblem, as it rounds
// them. Empty when every field fits.
std::string TableProblem(const TableFields &t, ProblemPoint *about = nullptr);

// The first two neighbouring knots whose x round to the same binary32 value,
// e.g. "x of points 0 and 1 are both 1.7e+09 in binary32": a reader cannot
// tell them apart; about is set to the x of the second. Empty when x still
// increases strictly there.
std::string CollapsedKnots(int32_t n, const double *x,
                           ProblemPoint *about = nullptr);

// Encodes the table of t into out, which offers char *Room(size),
// Commit(end) and bool ok(), as the program's ChunkWriter does; stops once
// out is not ok. Each record's fields go to trace(const float[5]) after the
// record. The caller has checked the fields (TableProblem).
template <class Out, class Trace>
void EncodeTable(const TableFields &t, Out &out, Trace &&trace) {
  auto *count = reinterpret_cast<unsigned char *>(out.Room(4));
  StoreBigEndian32(count, static_cast<uint32_t>(t.n));
  out.Commit(reinterpret_cast<char *>(count + 4));
  for (int32_t i = t.n - 1; i >= 0 && out.ok(); --i) {
    float fields[5];
    t.Record(i, fields);
    auto *record = reinterpret_cast<unsigned char *>(out.Room(20));
    for (int k = 0; k < 5; ++k) {
      StoreBigEndian32(record + 4 * k, Binary32Bits(fields[k]));
    }
    out.Commit(reinterpret_cast<char *>(record + 20));
    trace(static_cast<const float *>(fields));
  }
}

} // namespace knotfit

#endif
