// Every interpolation method in one place: what it needs of the points, and
// the fit itself in the SplineTable form of knotfit.h.
#ifndef KNOTFIT_LIB_METHODS_H
#define KNOTFIT_LIB_METHODS_H

#include "knotfit/method.hpp"

#include <cstdint>
#include <string>

namespace knotfit {

// Why `choice` cannot fit these points (which passed PointsProblem); empty
// when it can. In the words of PointsProblem's messages, e.g. "akima needs at
// least 3 points (2 given)".
std::string MethodProblem(const MethodChoice &choice, int32_t n,
                          const double *x, const double *y);

// Fills a, b, c (n entries each, caller-provided); entry n-1 of b and c is 0.
// Method::kNotAKnot is ComputeCubicSpline itself, bit for bit unchanged.
// Needs points that passed PointsProblem and MethodProblem.
void ComputeSpline(const MethodChoice &choice, int32_t n, const double *x,
                   const double *y, double *a, double *b, double *c);

} // namespace knotfit

#endif
