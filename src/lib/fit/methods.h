// Every method in one table: its name, what it needs of the points, and the
// fit itself in the SplineTable form of knotfit.h. The option parser, the
// checks and the fit all read it.
#ifndef KNOTFIT_LIB_METHODS_H
#define KNOTFIT_LIB_METHODS_H

#include "knotfit/method.hpp"

#include <cstdint>
#include <span>
#include <string>

namespace knotfit {

struct MethodInfo {
  Method method;
  const char *name;      // as ParseMethod reads it
  int32_t fewest_points; // of distinct x, for a smoothing method
  // Why the method cannot fit these points or this choice beyond their
  // number, or empty; null when it needs nothing more.
  std::string (*needs)(const MethodChoice &choice, int32_t n, const double *y);
  // Fills a, b, c (n entries each); entry n-1 of b and c is 0.
  // Null for a smoothing method.
  void (*fit)(const MethodChoice &choice, int32_t n, const double *x,
              const double *y, double *a, double *b, double *c);
  // What may follow the name, as the lists of methods show it.
  const char *parameters;
  // What knotfit's --help says of the method after its name.
  const char *help;
  // The fit passes near the points, not through them: FitSmoothingSpline
  // (smoothing_spline.h) makes it, with weights and an amount of smoothing;
  // its knots are the distinct x, equal x allowed, and their y the smoothed
  // values.
  bool smooths = false;
};

// The method's row of the table.
const MethodInfo &InfoOf(Method method);
// Every row, in the order of Method.
std::span<const MethodInfo> AllMethods();

// Every method's name and parameters, in the order of the table:
// "not-a-knot, natural, clamped[=D0,DN], ...", for messages and help texts.
std::string MethodList();

// Why `choice` cannot fit these points (which passed PointsProblem); empty
// when it can. In the words of PointsProblem's messages, e.g. "akima needs at
// least 3 points (2 given)", "smooth needs at least 3 distinct x (2 given)".
std::string MethodProblem(const MethodChoice &choice, int32_t n,
                          const double *x, const double *y);

// The method's fit. Method::kNotAKnot is ComputeCubicSpline itself, bit for
// bit. Needs an interpolant, and points that passed PointsProblem and
// MethodProblem.
void ComputeSpline(const MethodChoice &choice, int32_t n, const double *x,
                   const double *y, double *a, double *b, double *c);

} // namespace knotfit

#endif
