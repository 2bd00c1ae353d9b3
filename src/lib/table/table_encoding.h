// The coefficient table's encoding, in one place for every writer of it (the
// library's table_bytes and write_table, the program's CS/<name>): the knot
// count, then one record of five big-endian binary32 fields x, y, a, b, c per
// knot, from knot n-1 down to knot 0; the header and records of the offset
// and double forms; and what binary32 can hold.
#ifndef KNOTFIT_LIB_TABLE_ENCODING_H
#define KNOTFIT_LIB_TABLE_ENCODING_H

#include "../fit/checks.h"
#include "big_endian.h"
#include "knotfit/table.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
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

// The header of the offset and double forms: the magic bytes (the first
// one, 0x80 or more, makes the count a classic reader sees negative), the
// version, the form, n, x0 and y0.
constexpr unsigned char kTableMagic[4] = {0x8b, 'K', 'F', 'T'};
constexpr uint16_t kTableVersion = 1;
constexpr std::size_t kTableHeaderSize = 28;

// The bytes of a table of n knots in the form.
inline uint64_t TableSize(TableForm form, uint64_t n) {
  switch (form) {
  case TableForm::kClassic:
    return 4 + 20 * n;
  case TableForm::kOffset:
    return kTableHeaderSize + 20 * n;
  case TableForm::kDouble:
    break;
  }
  return kTableHeaderSize + 40 * n;
}

// A fit as its table stores it: x, y and the slopes a in double, and the
// segment coefficients either in double (b, c) or already rounded by Narrow
// to binary32 pairs (bc: b and c of knot i at 2i and 2i+1); and the origin
// of the offset and double forms (SetOrigin).
struct TableFields {
  int32_t n = 0;
  const double *x = nullptr, *y = nullptr, *a = nullptr;
  const double *b = nullptr, *c = nullptr;
  const float *bc = nullptr;
  double x0 = 0.0, y0 = 0.0;

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

  // Knot i's fields as the double form stores them: x - x0, y - y0, a, b,
  // c; as the offset form stores them, each of those rounded once by
  // Narrow (b and c as the pairs hold them).
  void Record(int32_t i, double out[5]) const {
    const auto k = static_cast<std::size_t>(i);
    out[0] = x[k] - x0;
    out[1] = y[k] - y0;
    out[2] = a[k];
    out[3] = bc != nullptr ? bc[2 * k] : b[k];
    out[4] = bc != nullptr ? bc[2 * k + 1] : c[k];
  }
  void OffsetRecord(int32_t i, float out[5]) const {
    double wide[5];
    Record(i, wide);
    for (int f = 0; f < 5; ++f) {
      out[f] = Narrow(wide[f]);
    }
  }
};

// The fields of knots held as vectors x, y, a, b, c (a fit that places its
// own knots): they stay owned by it.
template <class Knots> TableFields FieldsOf(const Knots &k) {
  TableFields t;
  t.n = static_cast<int32_t>(k.x.size());
  t.x = k.x.data();
  t.y = k.y.data();
  t.a = k.a.data();
  t.b = k.b.data();
  t.c = k.c.data();
  return t;
}
// The same for a Spline, whose arrays are behind its accessors.
inline TableFields FieldsOf(const Spline &s) {
  TableFields t;
  t.n = static_cast<int32_t>(s.size());
  t.x = s.x().data();
  t.y = s.y().data();
  t.a = s.a().data();
  t.b = s.b().data();
  t.c = s.c().data();
  return t;
}

// Sets the origin of the offset and double forms: x0 the first knot's x,
// y0 the middle of the y range, so that y - y0 is at most half the range.
// low and high are the least and greatest y, where they are known already.
inline void SetOrigin(TableFields &t, double low, double high) {
  t.x0 = t.x[0];
  t.y0 = (low + high) / 2;
}
inline void SetOrigin(TableFields &t) {
  const auto [low, high] = std::minmax_element(t.y, t.y + t.n);
  SetOrigin(t, *low, *high);
}

// Why field ("b") of point i cannot be stored in binary32: "b of point 3
// (1e+39) overflows binary32", "... is not finite (nan)"; in binary64 only
// the latter. Empty when it can.
std::string FieldProblem(const char *field, int32_t i, double v,
                         bool binary64 = false);

// The first field that the form cannot hold, all x first, then y, a, b and
// c (a y that overflows is the cause, the slopes it spoils only the effect),
// in FieldProblem's words, about set to that field of that point; in the
// offset and double forms x and y are named "x - x0" and "y - y0", the
// values stored (the origin set). Pairs already rounded are their maker's to
// check, with FieldProblem, as it rounds them. Empty when every field fits.
std::string TableProblem(const TableFields &t, ProblemPoint *about = nullptr,
                         TableForm form = TableForm::kClassic);

// The first two neighbouring knots whose x are stored as the same value,
// e.g. "x of points 0 and 1 are both 1.7e+09 in binary32", "x - x0 of points
// 1 and 2 are both 1e+20 in binary64": a reader cannot tell them apart;
// about is set to the x of the second. Empty when the stored x still
// increase strictly there.
std::string CollapsedKnots(int32_t n, const double *x,
                           ProblemPoint *about = nullptr,
                           TableForm form = TableForm::kClassic,
                           double x0 = 0.0);

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
      StoreBinary32(record + 4 * k, fields[k]);
    }
    out.Commit(reinterpret_cast<char *>(record + 20));
    trace(static_cast<const float *>(fields));
  }
}

// Encodes the table of t in the form into out, as EncodeTable does; the
// header of the offset and double forms carries t's origin. In those forms,
// each record's fields go to trace(const double[5]) after the record as a
// reader gives them back: x0 + stored x, y0 + stored y, then a, b and c as
// stored (the classic form's go to its own EncodeTable's trace).
template <class Out, class Trace>
void EncodeTable(const TableFields &t, TableForm form, Out &out,
                 Trace &&trace) {
  if (form == TableForm::kClassic) {
    EncodeTable(t, out, [](const float *) {});
    return;
  }
  auto *header = reinterpret_cast<unsigned char *>(out.Room(kTableHeaderSize));
  std::copy(kTableMagic, kTableMagic + 4, header);
  StoreBigEndian16(header + 4, kTableVersion);
  StoreBigEndian16(header + 6, static_cast<uint16_t>(form));
  StoreBigEndian32(header + 8, static_cast<uint32_t>(t.n));
  StoreBinary64(header + 12, t.x0);
  StoreBinary64(header + 20, t.y0);
  out.Commit(reinterpret_cast<char *>(header + kTableHeaderSize));
  const bool wide = form == TableForm::kDouble;
  for (int32_t i = t.n - 1; i >= 0 && out.ok(); --i) {
    auto *record = reinterpret_cast<unsigned char *>(out.Room(wide ? 40 : 20));
    double given[5];
    if (wide) {
      t.Record(i, given);
      for (std::size_t k = 0; k < 5; ++k) {
        StoreBinary64(record + 8 * k, given[k]);
      }
    } else {
      float fields[5];
      t.OffsetRecord(i, fields);
      for (std::size_t k = 0; k < 5; ++k) {
        StoreBinary32(record + 4 * k, fields[k]);
        given[k] = static_cast<double>(fields[k]);
      }
    }
    out.Commit(reinterpret_cast<char *>(record + (wide ? 40 : 20)));
    given[0] = t.x0 + given[0];
    given[1] = t.y0 + given[1];
    trace(static_cast<const double *>(given));
  }
}
template <class Out>
void EncodeTable(const TableFields &t, TableForm form, Out &out) {
  EncodeTable(t, form, out, [](const double *) {});
}

} // namespace knotfit

#endif
