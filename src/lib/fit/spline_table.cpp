// knotfit.h, the SplineTable functions: the not-a-knot spline through a set
// of points (not_a_knot.h solves it), and its clamped value (evaluate.h).
//
// Every formula below is evaluated in IEEE double, one rounding per operation,
// in exactly the grouping written (the build uses -ffp-contract=off so no
// multiply-add is fused). Stored coefficient tables and plot files are
// compared byte for byte, so a regrouped sum is a changed output.
#include "knotfit.h"
#include "not_a_knot.h"

#include "../evaluate/evaluate.h"

#include "../exact_math.h"

#include <algorithm>
#include <cmath>

namespace {

// The parabola through three points, written in the SplineTable form: both
// segments carry the parabola's own quadratic coefficient q and no cubic
// term; the slopes are the parabola's derivative at the knots. The not-a-knot
// system is singular for three knots (both end conditions are then the same
// one); the parabola through the points is the usual fit there.
void ComputeParabola(const double *x, const double *y, double *a, double *b,
                     double *c) {
  const double h1 = x[1] - x[0];
  const double h2 = x[2] - x[1];
  const double s1 = (y[1] - y[0]) / h1;
  const double s2 = (y[2] - y[1]) / h2;
  const double q = (s2 - s1) / (x[2] - x[0]);
  a[0] = s1 - q * h1;
  a[1] = s1 + q * h1;
  a[2] = s2 + q * h2;
  b[0] = q;
  b[1] = q;
  b[2] = 0.0;
  c[0] = 0.0;
  c[1] = 0.0;
  c[2] = 0.0;
}

} // namespace

void ComputeCubicSpline(int32_t n, const double *x, const double *y, double *a,
                        double *b, double *c) {
  if (n < 2) {
    return;
  }
  if (n == 2) {
    // The straight line: both slopes are the secant.
    const double s = (y[1] - y[0]) / (x[1] - x[0]);
    a[0] = s;
    a[1] = s;
    b[0] = b[1] = c[0] = c[1] = 0.0;
    return;
  }
  if (n == 3) {
    ComputeParabola(x, y, a, b, c);
    return;
  }

  // The eliminated diagonal and right-hand side live in b and c: row i's
  // are read for the last time just before knot i's results replace them.
  struct InPlace {
    double *a, *b, *c;
    double &Diagonal(int32_t i) { return b[i]; }
    double &Rhs(int32_t i) { return c[i]; }
    void Finish(int32_t i, double slope, double quadratic, double cubic) {
      a[i] = slope;
      b[i] = quadratic;
      c[i] = cubic;
    }
  } work{a, b, c};
  knotfit::SolveNotAKnot(n, x, y, work);
}

double getValue(double t, int32_t n, const double *x, const double *y,
                const double *a, const double *b, const double *c) {
  if (n < 1) {
    return NAN; // no knot to compare with, no segment to evaluate
  }
  return knotfit::Pieces<double>{static_cast<size_t>(n), x, y, a, b, c}.Value(
      t);
}
