// The spline engine: the not-a-knot cubic spline through a set of points, and
// its evaluation.
//
// Every formula below is evaluated in IEEE double, one rounding per operation,
// in exactly the grouping written (the build uses -ffp-contract=off so no
// multiply-add is fused). Stored coefficient tables and plot files are
// compared byte for byte, so a regrouped sum is a changed output.
#include "knotfit.h"

#include "exact_math.h"
#include "work_array.h"

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

// Segment k of the spline at u = t - x[k]. Grouped as the coefficient table's
// readers group it: ((a*u + y) + (b*u)*u) + ((c*u)*u)*u.
double EvaluateSegment(int32_t k, double u, const double *y, const double *a,
                       const double *b, const double *c) {
  return ((a[k] * u + y[k]) + (b[k] * u) * u) + ((c[k] * u) * u) * u;
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

  // With h[i] = x[i] - x[i-1] and s[i] = (y[i] - y[i-1]) / h[i], the slopes a
  // solve a tridiagonal system: the middle rows are continuity of S'' at the
  // interior knots,
  //   h[i+1]*a[i-1] + 2*(h[i] + h[i+1])*a[i] + h[i]*a[i+1]
  //     = 3*(h[i]*s[i+1] + h[i+1]*s[i]),
  // and rows 0 and n-1 make S''' continuous at x[1] and x[n-2] (not-a-knot).
  // Row 0's super-diagonal is v = x[2] - x[0]; keeping it in h[0] lets the
  // elimination use h[i] as the super-diagonal of every row without a special
  // case. Gaussian elimination without pivoting, then back substitution.
  const WorkArray h_store = NewWorkArray(n);
  const WorkArray s_store = NewWorkArray(n);
  double *h = h_store.get();
  double *s = s_store.get();
  // The eliminated diagonal d and right-hand side r live in b and c: d[i] and
  // r[i] are dead once a[i] is known, before b[i] and c[i] are stored. Two
  // arrays of n doubles less at the peak for long data sets.
  double *d = b;
  double *r = c;

  // Each pass below does its independent work (the differences ahead of
  // the elimination, the segment coefficients behind the back substitution)
  // in the same loop as the sequential chain of divisions, so that the two
  // overlap. Every value still comes from the same operations in the same
  // order.
  auto difference = [&](int32_t i) {
    h[i] = x[i] - x[i - 1];
    s[i] = (y[i] - y[i - 1]) / h[i];
  };
  difference(1);
  difference(2);

  d[0] = h[2];
  const double v = x[2] - x[0];
  h[0] = v;
  r[0] = ((((v + v) + h[1]) * s[1]) * h[2] + (h[1] * h[1]) * s[2]) / v;

  for (int32_t i = 1; i <= n - 2; ++i) {
    if (i >= 2) {
      difference(i + 1);
    }
    const double f = -h[i + 1] / d[i - 1];
    r[i] = f * r[i - 1] + ((h[i] * s[i + 1]) + (h[i + 1] * s[i])) * 3.0;
    d[i] = f * h[i - 1] + ((h[i] + h[i + 1]) + (h[i] + h[i + 1]));
  }

  // Last row: w*a[n-2] + h[n-2]*a[n-1] = r_last, eliminated against row n-2.
  const double w = x[n - 1] - x[n - 3];
  const double r_last = ((((h[n - 1] + w) + w) * s[n - 1]) * h[n - 2] +
                         (h[n - 1] * h[n - 1]) * s[n - 2]) /
                        w;
  const double f = -w / d[n - 2];
  const double d_last = (f + 1.0) * h[n - 2];
  a[n - 1] = (f * r[n - 2] + r_last) / d_last;

  // Back substitution. Once a[i] is known, segment i (from x[i] to x[i+1])
  // has both end slopes, and its coefficients follow in cubic Hermite form:
  //   b = (3*s - 2*a[i] - a[i+1]) / h,  c = (a[i] + a[i+1] - 2*s) / h^2,
  // with s = s[i+1], h = h[i+1], through the shared term
  // e = a[i] + a[i+1] - 2*s. b[i] and c[i] replace d[i] and r[i], which
  // a[i] has just used for the last time.
  for (int32_t i = n - 2; i >= 0; --i) {
    a[i] = (r[i] - h[i] * a[i + 1]) / d[i];
    const double e = ((a[i] + a[i + 1]) - s[i + 1]) - s[i + 1];
    b[i] = ((s[i + 1] - a[i]) - e) / h[i + 1];
    c[i] = e / (h[i + 1] * h[i + 1]);
  }
  b[n - 1] = 0.0;
  c[n - 1] = 0.0;
}

double getValue(double t, int32_t n, const double *x, const double *y,
                const double *a, const double *b, const double *c) {
  if (std::isnan(t) || n < 1) {
    return NAN; // no knot to compare with, no segment to evaluate
  }
  if (t <= x[0]) {
    return y[0];
  }
  if (t >= x[n - 1]) {
    return y[n - 1];
  }
  // The first knot with x[i] >= t, by bisection (x increases strictly): an
  // interior knot hit exactly is evaluated as the right end of the segment
  // before it. x[0] < t < x[n-1] puts i between 1 and n-1.
  const double *knot = std::lower_bound(x + 1, x + n - 1, t);
  const auto k = static_cast<int32_t>(knot - x) - 1;
  return EvaluateSegment(k, t - x[k], y, a, b, c);
}
