// Tables within a stated error: the fewest knots found such that the table,
// as it is stored and as the double readers evaluate it, is within E of
// every data point. Also the plain greedy insertion that it is measured
// against.
#ifndef KNOTFIT_LIB_TOLERANCE_KNOTS_H
#define KNOTFIT_LIB_TOLERANCE_KNOTS_H

#include "knotfit/method.hpp"
#include "knotfit/request.hpp" // Tolerance
#include "knotfit/spline.hpp"
#include "knotfit/table.hpp"
#include "methods.h" // TakesTolerance, ToleranceMethods

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace knotfit {

// Reads "E" or "E%", E a finite decimal number above 0. False for anything
// else (out is then unchanged).
bool ParseTolerance(std::string_view text, Tolerance &out);

// The bound in y's units for the n values y: E itself, or E percent of
// max y - min y.
double AbsoluteTolerance(const Tolerance &tolerance, int32_t n,
                         const double *y);

// A table's fit on its own knots, in the SplineTable form (b and c of the
// last knot 0), with the largest |T(x_i) - y_i| of its stored table over
// the data and the data point where it is reached (the first of equals).
struct ToleranceFit {
  std::vector<double> x, y, a, b, c;
  double error = 0.0;
  int32_t worst = 0;
  bool met = false; // error <= the bound
};

// The fit as a Spline, for the library's writers and readers.
Spline SplineOf(const ToleranceFit &fit);

// The table with the fewest knots found such that the stored table, in the
// form, is within e of each of the n points (which passed PointsProblem and
// MethodProblem; the method takes a tolerance). Deterministic: the same
// points give the same bits. When no table found meets e, the one with the
// smallest error, met false. Throws Error when x[n-1] - x[0] overflows a
// double.
// progress, when set, is called as the search goes on with the knots it
// holds so far.
using ToleranceProgress = std::function<void(std::size_t knots)>;
ToleranceFit FitWithinTolerance(const MethodChoice &method, int32_t n,
                                const double *x, const double *y, double e,
                                TableForm form = TableForm::kClassic,
                                const ToleranceProgress &progress = {});

// How far the stored table strays from the method's fit through every
// point between the data: the largest |T(t) - F(t)| over the plot's
// samples from x[0] to x[n-1]; NaN when the range has no samples.
double TableVersusFit(const ToleranceFit &fit, const MethodChoice &method,
                      int32_t n, const double *x, const double *y,
                      TableForm form = TableForm::kClassic);

// The reference it is measured against: from the two end points, the data
// point where the stored table is worst becomes a knot, one at a time, the
// method's interpolant through the chosen points, until every point is
// within e (or every point is a knot).
ToleranceFit GreedyKnots(const MethodChoice &method, int32_t n, const double *x,
                         const double *y, double e,
                         TableForm form = TableForm::kClassic);

} // namespace knotfit

#endif
