// A table in fixed point: every column of fields as signed integers of one
// width (16 or 32 bits) with the most fraction bits that hold all of them,
// and S evaluated in integer arithmetic only, with intermediates of twice
// that width. knotfit-export writes the same steps as C; Evaluate here is
// what that C computes, to the bit.
#ifndef KNOTFIT_EXPORT_FIXED_POINT_H
#define KNOTFIT_EXPORT_FIXED_POINT_H

#include <knotfit/table.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// S by Horner's rule on segment k, u = x - x[k] in the x column's scale:
//   h = c;  h = b + h u;  h = a + h u;  h = y + h u
// Each step takes h to its own scale (fraction bits `steps`, the most that
// keep |h| below 2^(bits-1) on every segment), so h u never overflows the
// wide type. A scale change is Shift: a floor (arithmetic right shift) or an
// exact multiplication.
struct FixedTable {
  int bits = 32;                           // 16 or 32
  std::array<int, 5> frac{};               // of x, y, a, b, c
  std::array<std::vector<int64_t>, 5> q{}; // the columns, knot 0 first
  std::array<int, 3> steps{};              // of b + h u, a + h u, y + h u
  int value_frac() const { return steps[2]; }
};

// The five columns x, y, a, b, c of a table as stored (about the origin in
// the offset and double forms), knot 0 first, widened to double.
using Columns = std::array<std::vector<double>, 5>;

// Raises knotfit::Error naming the field and knot when a column holds a
// value that no scale of that width can hold; the value in the message is
// the shortest text of its binary32 field, or of its double where wide.
FixedTable Quantize(const Columns &columns, bool wide, int bits);

// x (a double) in the x column's scale, rounded to nearest.
int64_t FixedArgument(const FixedTable &f, double x);

// S at x (in the x column's scale), in the scale value_frac().
int64_t Evaluate(const FixedTable &f, int64_t x);

// v times 2^-r, floored: an arithmetic right shift for r > 0.
int64_t Shift(int64_t v, int r);

#endif
