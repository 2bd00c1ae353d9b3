// One fit, described whole: the method and its parameters, the bound, the
// table's form and the rules that make measured points a data set. The
// program builds one from its options, the Python module from its keywords;
// RequestProblem states every rule between the parts once, for both.
#ifndef KNOTFIT_REQUEST_HPP
#define KNOTFIT_REQUEST_HPP

#include "knotfit/method.hpp"
#include "knotfit/spline.hpp" // Smoothing
#include "knotfit/table.hpp"  // TableForm

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace knotfit {

// A bound on the table's error: value in y's units, or (percent) value
// percent of the data set's y range, plus relative times |y| of each point
// (numpy's atol + rtol |b|). Both are finite and at least 0; value is 0 only
// where relative alone was given.
struct Tolerance {
  double value = 0.0;
  bool percent = false;
  double relative = 0.0; // R: each point's bound is E + R|y_i|
};

// What becomes of consecutive points with equal x: kKeep leaves them, and
// the data set is refused as x not increasing; the others make them one
// point with the mean, the first or the last y.
enum class Ties { kKeep, kMean, kFirst, kLast };

// Data as measured: points in any order, several readings at one x,
// readings missing.
struct MeasuredRules {
  bool sort = false;         // by x, equal x in the order read
  Ties ties = Ties::kKeep;   // after the sort
  bool skip_missing = false; // drop a point whose x or y is missing
  bool any() const { return sort || ties != Ties::kKeep || skip_missing; }
};

struct Request {
  MethodChoice method{};
  Smoothing smoothing{}; // for a method that smooths
  // The fewest knots whose stored table is within the bound, instead of a
  // knot at every point.
  std::optional<Tolerance> tolerance;
  TableForm form = TableForm::kClassic;
  bool automatic_form = false; // each data set in the least form it needs
  MeasuredRules measured{};
};

// The parts of a request that only some methods accept, as a caller sets
// them besides the method; the tolerance and the ties rule are read from
// the request itself.
enum class Parameter {
  kEndSlopes, // of a method that takes them
  kLambda,    // the smoothing rule: lambda, df or GCV
  kWeights,   // a weight per point
};

// How a message names the parts: by the program's options ("option
// '--tolerance'", "-m smooth") or by the module's keywords ("tolerance",
// "method='smooth'").
enum class Naming { kOption, kKeyword };

// Why the request cannot be carried out whatever the points, or empty: a
// tolerance with a method that takes none ("option '--tolerance' takes the
// methods not-a-knot, pchip, akima, makima, steffen, smooth, not natural";
// "option '--relative-tolerance' ..." where only R was given), a parameter
// of given that the method does not accept (the last one given; "option
// '--lambda' needs -m smooth"), a ties rule with a method that
// merges equal x itself.
std::string RequestProblem(const Request &request,
                           const std::vector<Parameter> &given = {},
                           Naming naming = Naming::kOption);

// Where a table within a bound came to: its knots, the bound in y's units
// (E, or E percent of the y range) with its relative part R, the error
// that uses most of what the bound allows, where it is, and whether every
// miss is within the bound.
struct ToleranceResult {
  std::size_t knots = 0;
  double bound = 0.0;
  double relative = 0.0;
  double error = 0.0;
  double worst_at = 0.0;
  double allowed = 0.0;
  bool met = false;
};

// What the measured-data rules did: points read, dropped as missing and
// merged into an earlier point at the same x.
struct MeasuredResult {
  std::size_t read = 0, dropped = 0, merged = 0;
};

// A request carried out: the table's spline (the fit itself, or the table
// found within the bound), the form its table is in, and what it came from.
// A smoothing fit's figures are in spline.smoothing() (without a bound).
struct FitResult {
  Spline spline;
  TableForm form = TableForm::kClassic;
  std::optional<ToleranceResult> tolerance; // with a bound only
  std::optional<MeasuredResult> measured;   // with measured rules only
};

// Carries out the request on the n points (x[i], y[i]) with weights w[i] (w
// empty: none; a NaN weight makes its point missing): checks the request
// (RequestProblem with given and naming), applies the measured-data rules,
// fits by the method (interpolant, or near the points with its smoothing
// rule), then under a bound places the fewest knots whose table in the form
// meets it (with automatic_form, in the first of classic, offset and double
// that meets it, else the one that misses least; without a bound, in the
// least form whose table keeps the fit, least_table_form). Raises Error
// with the program's words: the request's problem, the points' problem as
// fit and smooth raise it, or a bound that allows no error at a point.
// Deterministic.
FitResult fit_request(const std::vector<double> &x,
                      const std::vector<double> &y,
                      const std::vector<double> &w, const Request &request,
                      const std::vector<Parameter> &given = {},
                      Naming naming = Naming::kOption);

} // namespace knotfit

#endif
