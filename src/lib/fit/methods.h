// Every method in one table: its name, what it needs of the points, and the
// fit itself in the SplineTable form of knotfit.h. The option parser, the
// checks and the fit all read it.
#ifndef KNOTFIT_LIB_METHODS_H
#define KNOTFIT_LIB_METHODS_H

#include "knotfit/method.hpp"
#include "knotfit/spline.hpp" // Smoothing

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace knotfit {

struct SmoothingFit; // smoothing_spline.h

// How a kind that takes a bound (--tolerance) places its knots
// (tolerance_knots.cpp): on the points, or by a least-squares spline on
// knots a gap apart, with the points as knots where that cannot meet it.
struct KnotPlacement {
  bool least_squares;
  int32_t gap;
};

// Every fit kind is one row: its name, what it needs of the points and
// accepts besides them, and its fit. A kind either interpolates (fit: the
// points are its knots) or makes knots of its own near the points
// (fit_near); exactly one of the two is set.
struct MethodInfo {
  Method method;
  const char *name;      // as ParseMethod reads it
  int32_t fewest_points; // of distinct x when merges_equal_x
  // Why the method cannot fit these points or this choice beyond their
  // number, or empty; null when it needs nothing more.
  std::string (*needs)(const MethodChoice &choice, int32_t n, const double *y);
  // Fills a, b, c (n entries each); entry n-1 of b and c is 0.
  void (*fit)(const MethodChoice &choice, int32_t n, const double *x,
              const double *y, double *a, double *b, double *c);
  // The fit of a kind that passes near the points: its knots the distinct
  // x, their y the fitted values, with weights and an amount of smoothing
  // (FitSmoothingSpline's contract, smoothing_spline.h).
  std::string (*fit_near)(std::span<const double> x, std::span<const double> y,
                          std::span<const double> w, const Smoothing &how,
                          SmoothingFit &out);
  // What may follow the name, as the lists of methods show it.
  const char *parameters;
  // What knotfit's --help says of the method after its name.
  const char *help;
  // What the kind accepts besides the points.
  bool end_slopes = false;     // MethodChoice's start and end slopes
  bool merges_equal_x = false; // equal x are one knot: no ties rule applies
  bool weights = false;        // a weight per point
  bool smoothing = false;      // lambda, df or GCV (Smoothing)
  // How it places knots within a bound; null when it takes none.
  const KnotPlacement *tolerance = nullptr;
};

// The method's row of the table.
const MethodInfo &InfoOf(Method method);
// Every row, in the order of Method.
std::span<const MethodInfo> AllMethods();

// --help's words on the methods: the interpolants, then the kinds that
// pass near the points, each name with its row's help.
std::string MethodHelp();

// The kinds that may stand in for the method where its fit is flagged: the
// other interpolants that need nothing but the points (end slopes are the
// user's to know), in the order of the table; none for a kind that passes
// near the points, since every interpolant passes through the noise it
// smooths.
std::vector<Method> Alternatives(Method method);

// Whether the method places its knots within a bound; "not-a-knot, pchip,
// akima, makima, steffen", the methods that do, for the message refusing
// the others.
bool TakesTolerance(Method method);
std::string ToleranceMethods();

// A fit near the points as a Spline, its knots its own, with what it chose
// (for the judges of a fit, which read Splines).
Spline SplineOf(const SmoothingFit &fit);

// Every method's name and parameters, in the order of the table:
// "not-a-knot, natural, clamped[=D0,DN], ...", for messages and help texts.
std::string MethodList();

// Why `choice` cannot fit these points (which passed PointsProblem); empty
// when it can. In the words of PointsProblem's messages, e.g. "akima needs at
// least 3 points (2 given)", "smooth needs at least 3 distinct x (2 given)".
std::string MethodProblem(const MethodChoice &choice, int32_t n,
                          const double *x, const double *y);

// The method's fit. Method::kNotAKnot is ComputeCubicSpline itself, bit for
// bit. Needs an interpolant (a row with fit), and points that passed
// PointsProblem and MethodProblem.
void ComputeSpline(const MethodChoice &choice, int32_t n, const double *x,
                   const double *y, double *a, double *b, double *c);

} // namespace knotfit

#endif
