// The cubic Hermite segment: every fit ends here, whatever gave its slopes.
#ifndef KNOTFIT_LIB_HERMITE_H
#define KNOTFIT_LIB_HERMITE_H

#include "../exact_math.h"

namespace knotfit {

struct SegmentCoefficients {
  double b; // quadratic
  double c; // cubic
};

// The segment from (x0, y0) to (x1, y1) with slopes a0 and a1 at its ends,
// S(x0 + u) = y0 + a0*u + b*u^2 + c*u^3, has
//   b = (3*s - 2*a0 - a1) / h,  c = (a0 + a1 - 2*s) / h^2,
// with h = x1 - x0 and s = (y1 - y0) / h, computed through the shared term
// e = a0 + a1 - 2*s in the grouping below. The program recomputes a long
// fit's coefficients from its slopes with this same function, so the
// grouping is fixed: any other gives other bits.
inline SegmentCoefficients Hermite(double x0, double x1, double y0, double y1,
                                   double a0, double a1) {
  const double h = x1 - x0;
  const double s = (y1 - y0) / h;
  const double e = ((a0 + a1) - s) - s;
  return {((s - a0) - e) / h, e / (h * h)};
}

} // namespace knotfit

#endif
