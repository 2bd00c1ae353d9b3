// Where a cubic piece turns: the real roots of its derivative inside the
// piece. The report's flags, its figures and the table's check all look for
// a curve's extremes there.
#ifndef KNOTFIT_LIB_TURNING_POINTS_H
#define KNOTFIT_LIB_TURNING_POINTS_H

#include <cmath>
#include <cstddef>
#include <utility>

namespace knotfit {

// Up to two numbers, in increasing order.
struct Roots {
  double u[2] = {};
  std::size_t n = 0;
  const double *begin() const { return u; }
  const double *end() const { return u + n; }
};

// The roots of p*u^2 + q*u + r in (0, h), in increasing order. The larger
// root in magnitude comes from the formula without cancellation, the other
// from the product of the roots.
inline Roots RootsWithin(double p, double q, double r, double h) {
  double found[2];
  std::size_t count = 0;
  if (p == 0.0) {
    if (q != 0.0) {
      found[count++] = -r / q;
    }
  } else if (const double disc = q * q - 4.0 * p * r; disc >= 0.0) {
    const double big = -0.5 * (q + std::copysign(std::sqrt(disc), q));
    found[count++] = big / p;
    if (big != 0.0) {
      found[count++] = r / big;
    }
  }
  Roots roots;
  for (std::size_t i = 0; i < count; ++i) {
    if (found[i] > 0.0 && found[i] < h) {
      roots.u[roots.n++] = found[i];
    }
  }
  if (roots.n == 2 && roots.u[1] < roots.u[0]) {
    std::swap(roots.u[0], roots.u[1]);
  }
  return roots;
}

// The u in (0, h) where a + 2b*u + 3c*u^2, the slope of a segment's cubic,
// is zero: where S turns.
inline Roots TurningPoints(double a, double b, double c, double h) {
  return RootsWithin(3.0 * c, 2.0 * b, a, h);
}

} // namespace knotfit

#endif
