// Tables within a stated error: the fewest knots found such that the table
// T, as it is stored and as the double readers evaluate it, is within E of
// every data point and, between two points, within E of the band that the
// points and the method's fit through every point span there. Also the
// plain greedy insertion that it is measured against, and a table that
// follows a given curve (a smoothing fit) within E.
#ifndef KNOTFIT_LIB_TOLERANCE_KNOTS_H
#define KNOTFIT_LIB_TOLERANCE_KNOTS_H

#include "checks.h"
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

// Reads R, a plain finite decimal number >= 0 (no "%"). False for anything
// else (out is then unchanged).
bool ParseRelativeTolerance(std::string_view text, double &out);

// What a table may miss by: E + R|y| at a point y, and between two points
// y0 and y1 E + R min(|y0|, |y1|) (E and R >= 0).
struct Bound {
  double e = 0.0;
  double r = 0.0;
};

// The first point where the bound allows no error at all (E + R|y_i| = 0)
// as "y of point i is 0, where E + R|y| allows no error", about that point;
// empty when there is none.
std::string BoundProblem(const Bound &bound, int32_t n, const double *y,
                         ProblemPoint *about = nullptr);

// The bound in y's units for the n values y: E itself, or E percent of
// max y - min y.
double AbsoluteTolerance(const Tolerance &tolerance, int32_t n,
                         const double *y);

// A table's fit on its own knots, in the SplineTable form (b and c of the
// last knot 0), and its error: on each data interval [x_i, x_i+1], lo_i
// and hi_i are the least and greatest of y_i, y_i+1 and the method's fit
// through every point F over the interval; T misses by |T(x_i) - y_i| at a
// point and by how far it leaves [lo_i, hi_i] on an interval, its extremes
// taken at the interval's ends, at the table's knots inside it and at the
// real roots of each piece's derivative, each evaluated as the readers do.
// error is the miss that uses most of what the bound allows there
// (without R: the largest miss), the first of equals; worst_at its x (a
// point's or one inside an interval); allowed what the bound allows there.
struct ToleranceFit {
  std::vector<double> x, y, a, b, c;
  double error = 0.0;
  double worst_at = 0.0;
  double allowed = 0.0;
  bool met = false; // every miss within what the bound allows there
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
// The same with a relative part R (the points passed BoundProblem too).
ToleranceFit FitWithinTolerance(const MethodChoice &method, int32_t n,
                                const double *x, const double *y,
                                const Bound &bound,
                                TableForm form = TableForm::kClassic,
                                const ToleranceProgress &progress = {});

// A C2 cubic table with the fewest knots found, among f's knots, that
// follows the curve f (a smoothing fit, its knots at the distinct x) within
// the bound on [x_0, x_m-1]: |T - f| at f's knots, at T's knots and at the
// real roots of each of T's pieces' derivative, within E + R|f(x_i)| at a
// knot and E + R min(|f(x_i)|, |f(x_i+1)|) between (f's values passed
// BoundProblem). error, worst_at and allowed as above, measured against f.
ToleranceFit FollowWithinTolerance(const Spline &f, const Bound &bound,
                                   TableForm form = TableForm::kClassic,
                                   const ToleranceProgress &progress = {});
// The same for f held as m knots in the SplineTable form.
ToleranceFit FollowWithinTolerance(int32_t m, const double *x, const double *y,
                                   const double *a, const double *b,
                                   const double *c, const Bound &bound,
                                   TableForm form = TableForm::kClassic,
                                   const ToleranceProgress &progress = {});

// How far the stored table strays from the method's fit through every
// point between the data: the largest |T(t) - F(t)| over the plot's
// samples from x[0] to x[n-1]; NaN when the range has no samples.
double TableVersusFit(const ToleranceFit &fit, const MethodChoice &method,
                      int32_t n, const double *x, const double *y,
                      TableForm form = TableForm::kClassic);
// The same against a curve held as m knots in the SplineTable form (the
// smoothing fit a table follows).
double TableVersusFit(const ToleranceFit &fit, int32_t m, const double *x,
                      const double *y, const double *a, const double *b,
                      const double *c, TableForm form = TableForm::kClassic);

// The reference it is measured against: from the two end points, the data
// point where the stored table misses most (of an interval, its end nearer
// the miss) becomes a knot, one at a time, the method's interpolant through
// the chosen points, until the table meets the bound (or that point is a
// knot already).
ToleranceFit GreedyKnots(const MethodChoice &method, int32_t n, const double *x,
                         const double *y, double e,
                         TableForm form = TableForm::kClassic);
ToleranceFit GreedyKnots(const MethodChoice &method, int32_t n, const double *x,
                         const double *y, const Bound &bound,
                         TableForm form = TableForm::kClassic);

} // namespace knotfit

#endif
