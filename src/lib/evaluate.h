// The piecewise cubic and its flat extension, evaluated for the double
// coefficients of a fit and for the binary32 fields of a table alike: every
// field is widened to double first, then each formula runs in double, one
// rounding per operation, in the grouping written. calculus.h builds the
// readers' other results on it.
#ifndef KNOTFIT_LIB_EVALUATE_H
#define KNOTFIT_LIB_EVALUATE_H

#include "hermite.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace knotfit {

// n >= 1 knots with increasing x, fields of type T (double or float). A
// fit's x increase strictly; a table's may repeat (calculus.h).
template <class T> struct Pieces {
  std::size_t n;
  const T *x, *y, *a, *b, *c;

  double X(std::size_t k) const { return static_cast<double>(x[k]); }

  // The segment k, from x[k] to x[k+1], that t belongs to, for
  // x[0] <= t <= x[n-1] and n >= 2: the first knot from 1 on with
  // x[k+1] >= t, found by bisection, so an interior knot hit exactly belongs
  // to the segment that ends there.
  std::size_t SegmentOf(double t) const {
    const T *knot =
        std::lower_bound(x + 1, x + n - 1, t, [](T knot_x, double v) {
          return static_cast<double>(knot_x) < v;
        });
    return static_cast<std::size_t>(knot - x) - 1;
  }

  // S at u = t - x[k] on segment k, grouped as the tables' readers group
  // it: ((a*u + y) + (b*u)*u) + ((c*u)*u)*u. Here (and so in Value) b and c
  // may be null: the segment's coefficients are then recomputed from the
  // slopes, bit for bit as the fit formed them (hermite.h). The program
  // keeps long fits that way, with b and c only in their binary32 form.
  double Cubic(std::size_t k, double u) const {
    const double ak = a[k], yk = y[k];
    const SegmentCoefficients seg =
        b != nullptr ? SegmentCoefficients{b[k], c[k]}
                     : Hermite(X(k), X(k + 1), y[k], y[k + 1], a[k], a[k + 1]);
    return ((ak * u + yk) + (seg.b * u) * u) + ((seg.c * u) * u) * u;
  }

  double Value(double t) const {
    if (std::isnan(t)) {
      return NAN;
    }
    if (t <= X(0)) {
      return y[0];
    }
    if (t >= X(n - 1)) {
      return y[n - 1];
    }
    const std::size_t k = SegmentOf(t);
    return Cubic(k, t - X(k));
  }
};

} // namespace knotfit

#endif
