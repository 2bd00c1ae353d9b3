// The piecewise cubic and its flat extension, evaluated for the double
// coefficients of a fit and for the binary32 fields of a table alike: every
// field is widened to double first, then each formula runs in double, one
// rounding per operation, in the grouping written. calculus.h builds the
// readers' other results on it.
#ifndef KNOTFIT_LIB_EVALUATE_H
#define KNOTFIT_LIB_EVALUATE_H

#include "../exact_math.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace knotfit {

// The segment k, from x[k] to x[k+1], that t belongs to, for
// x[0] <= t <= x[n-1] and n >= 2: the first knot from 1 on with x[k+1] >= t,
// found by bisection, so an interior knot hit exactly belongs to the segment
// that ends there.
template <class T> std::size_t SegmentOf(std::size_t n, const T *x, double t) {
  const T *knot = std::lower_bound(x + 1, x + n - 1, t, [](T knot_x, double v) {
    return static_cast<double>(knot_x) < v;
  });
  return static_cast<std::size_t>(knot - x) - 1;
}

// y + a*u + b*u^2 + c*u^3 grouped as the tables' readers group it:
// ((a*u + y) + (b*u)*u) + ((c*u)*u)*u.
inline double CubicAt(double y, double a, double b, double c, double u) {
  return ((a * u + y) + (b * u) * u) + ((c * u) * u) * u;
}

// S(t) with the flat extension: y[0] up to x[0], y[n-1] from x[n-1] on, and
// cubic(k, u) with u = t - x[k] on segment k between; NaN for a NaN t.
template <class T, class Cubic>
double ClampedValue(std::size_t n, const T *x, const T *y, double t,
                    Cubic &&cubic) {
  if (std::isnan(t)) {
    return NAN;
  }
  if (t <= static_cast<double>(x[0])) {
    return y[0];
  }
  if (t >= static_cast<double>(x[n - 1])) {
    return y[n - 1];
  }
  const std::size_t k = SegmentOf(n, x, t);
  return cubic(k, t - static_cast<double>(x[k]));
}

// n >= 1 knots with increasing x, fields of type T (double or float). A
// fit's x increase strictly; a table's may repeat (calculus.h).
template <class T> struct Pieces {
  std::size_t n;
  const T *x, *y, *a, *b, *c;

  double X(std::size_t k) const { return static_cast<double>(x[k]); }
  std::size_t SegmentOf(double t) const { return knotfit::SegmentOf(n, x, t); }

  // S at u = t - x[k] on segment k.
  double Cubic(std::size_t k, double u) const {
    return CubicAt(y[k], a[k], b[k], c[k], u);
  }

  double Value(double t) const {
    return ClampedValue(
        n, x, y, t, [this](std::size_t k, double u) { return Cubic(k, u); });
  }
};

} // namespace knotfit

#endif
