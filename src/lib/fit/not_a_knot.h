// The not-a-knot system, solved once for every caller: ComputeCubicSpline
// keeps its results as doubles, the program keeps a long data set's
// coefficients in the binary32 form its table stores.
#ifndef KNOTFIT_LIB_NOT_A_KNOT_H
#define KNOTFIT_LIB_NOT_A_KNOT_H

#include "hermite.h"

#include <cstdint>

namespace knotfit {

// With h[i] = x[i] - x[i-1] and s[i] = (y[i] - y[i-1]) / h[i], the slopes a
// solve a tridiagonal system: the middle rows are continuity of S'' at the
// interior knots,
//   h[i+1]*a[i-1] + 2*(h[i] + h[i+1])*a[i] + h[i]*a[i+1]
//     = 3*(h[i]*s[i+1] + h[i+1]*s[i]),
// and rows 0 and n-1 make S''' continuous at x[1] and x[n-2] (not-a-knot):
//   h[2]*a[0] + v*a[1] = ((2*v + h[1])*s[1]*h[2] + h[1]^2*s[2]) / v,
//   w*a[n-2] + h[n-2]*a[n-1]
//     = ((h[n-1] + 2*w)*s[n-1]*h[n-2] + h[n-1]^2*s[n-2]) / w,
// with v = x[2] - x[0] and w = x[n-1] - x[n-3]. Row 0's super-diagonal v
// plays the part of h[0], so every row i has h[i] as its super-diagonal.
// Gaussian elimination without pivoting, then back substitution.
//
// The differences h and s are computed where they are needed rather than
// stored: the same operations on the same values give the same bits, and a
// long data set needs two arrays of n doubles less. 2*t is formed as t + t.
//
// Work holds the eliminated system and takes the results:
//   double &Diagonal(i), double &Rhs(i)   rows 0 .. n-2 of the eliminated
//                                         system (row n-1 stays local)
//   void Finish(i, a, b, c)               knot i's slope and, for i < n-1,
//                                         its segment's coefficients; called
//                                         for i = n-1 down to 0, each after
//                                         Diagonal(i) and Rhs(i) were last
//                                         read, so they may share storage.
// Needs n >= 4 and x strictly increasing.
template <class Work>
void SolveNotAKnot(int32_t n, const double *x, const double *y, Work &work) {
  const double v = x[2] - x[0];
  double h_prev = v; // h[i-1]: row 0's super-diagonal for i = 1
  double h_cur = x[1] - x[0];
  double s_cur = (y[1] - y[0]) / h_cur;
  double h_next = x[2] - x[1];
  double s_next = (y[2] - y[1]) / h_next;
  double s_prev = 0.0;
  double d_prev = h_next;
  double r_prev =
      ((((v + v) + h_cur) * s_cur) * h_next + (h_cur * h_cur) * s_next) / v;
  work.Diagonal(0) = d_prev;
  work.Rhs(0) = r_prev;
  for (int32_t i = 1; i <= n - 2; ++i) {
    if (i >= 2) {
      h_next = x[i + 1] - x[i];
      s_next = (y[i + 1] - y[i]) / h_next;
    }
    const double f = -h_next / d_prev;
    r_prev = f * r_prev + ((h_cur * s_next) + (h_next * s_cur)) * 3.0;
    d_prev = f * h_prev + ((h_cur + h_next) + (h_cur + h_next));
    work.Diagonal(i) = d_prev;
    work.Rhs(i) = r_prev;
    h_prev = h_cur;
    h_cur = h_next;
    s_prev = s_cur;
    s_cur = s_next;
  }
  // Now h_cur = h[n-1], s_cur = s[n-1], h_prev = h[n-2], s_prev = s[n-2].
  // The last row, eliminated against row n-2; its right-hand side is used
  // directly and not stored.
  const double w = x[n - 1] - x[n - 3];
  const double r_last =
      ((((h_cur + w) + w) * s_cur) * h_prev + (h_cur * h_cur) * s_prev) / w;
  const double f = -w / d_prev;
  const double d_last = (f + 1.0) * h_prev;
  double a_next = (f * r_prev + r_last) / d_last;
  work.Finish(n - 1, a_next, 0.0, 0.0);

  // Back substitution. Once a[i] is known, segment i (from x[i] to x[i+1])
  // has both end slopes and its coefficients follow in Hermite form.
  for (int32_t i = n - 2; i >= 0; --i) {
    const double h = i >= 1 ? x[i] - x[i - 1] : v;
    const double a = (work.Rhs(i) - h * a_next) / work.Diagonal(i);
    const SegmentCoefficients seg =
        Hermite(x[i], x[i + 1], y[i], y[i + 1], a, a_next);
    work.Finish(i, a, seg.b, seg.c);
    a_next = a;
  }
}

} // namespace knotfit

#endif
