// What makes a set of points unfit for a spline, in the words the program's
// messages and the library's errors share.
#ifndef KNOTFIT_LIB_CHECKS_H
#define KNOTFIT_LIB_CHECKS_H

#include <cstdint>
#include <string>

namespace knotfit {

// Why no spline can pass through the n points: fewer than 2 of them, a value
// that is not finite, x not strictly increasing. Empty when one can.
std::string PointsProblem(int32_t n, const double *x, const double *y);

// Doubles from here on round to infinity in binary32: FLT_MAX plus half its
// spacing, a tie that rounds to the even neighbour 2^128.
constexpr double kBinary32Overflow = 0x1.ffffffp+127;

// Why the binary32 fields of a coefficient table cannot hold the spline: a
// value of point i (all x first, then y, the slopes a, the coefficients b
// and c; points from 0) that is not finite once narrowed, e.g. "y of point 1
// (1e+39) overflows binary32". Empty when every field is finite.
std::string NarrowingProblem(int32_t n, const double *x, const double *y,
                             const double *a, const double *b, const double *c);

// The same for one value: field ("b") of point i; empty when binary32 holds
// it. A null field array above is not looked at.
std::string Binary32FieldProblem(const char *field, int32_t i, double v);

// The first two neighbouring knots whose x narrow to the same binary32 value,
// e.g. "x of points 0 and 1 are both 1.7e+09 in binary32"; empty when x
// still increases strictly there.
std::string CollapsedKnots(int32_t n, const double *x);

// The shortest text that reads back as v ("2.5", "1e+15", "inf").
std::string ShortNumber(double v);
// The same for a binary32 value: 0.1f is "0.1".
std::string ShortBinary32(float v);

} // namespace knotfit

#endif
