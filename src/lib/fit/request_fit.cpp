// A request carried out on one data set: the measured rules, the method's
// fit, then the knots a bound asks for, in the form asked for.
#include "knotfit/request.hpp"

#include "../text/short_numbers.h"
#include "data_set_fit.h"
#include "measured.h"
#include "methods.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

namespace knotfit {
namespace {

// The points the rules keep, in place; the weights follow their points, and
// a missing weight (NaN) is a missing value of its point.
MeasuredResult Measure(std::vector<double> &x, std::vector<double> &y,
                       std::vector<double> &w, const MeasuredRules &rules,
                       Naming naming) {
  std::vector<unsigned char> missing(w.size());
  for (std::size_t i = 0; i < w.size(); ++i) {
    missing[i] = std::isnan(w[i]) ? 1 : 0;
  }
  std::vector<std::size_t> index(x.size());
  const MeasuredCounts counts =
      ApplyMeasuredRules(x.size(), x.data(), y.data(), index.data(),
                         missing.empty() ? nullptr : missing.data(), rules);
  if (counts.overflowed > 0) { // the sum of the y overflowed, not one y
    throw Error("the mean of " + std::to_string(counts.overflowed) +
                " y at x = " + ShortNumber(counts.overflow_x) +
                " overflows a double (" +
                (naming == Naming::kOption ? "--ties mean" : "ties='mean'") +
                "), point " + std::to_string(counts.overflow_at));
  }
  const std::size_t used = counts.used();
  x.resize(used);
  y.resize(used);
  if (!w.empty()) {
    std::vector<double> kept(used);
    for (std::size_t i = 0; i < used; ++i) {
      kept[i] = w[index[i]];
    }
    w = std::move(kept);
  }
  return {counts.read, counts.dropped, counts.merged};
}

} // namespace

FitResult fit_request(const std::vector<double> &x,
                      const std::vector<double> &y,
                      const std::vector<double> &w, const Request &request,
                      const std::vector<Parameter> &given, Naming naming) {
  if (const std::string problem = RequestProblem(request, given, naming);
      !problem.empty()) {
    throw Error(problem);
  }
  if (x.size() != y.size() || (!w.empty() && w.size() != x.size())) {
    throw Error(std::to_string(x.size()) + " x values but " +
                std::to_string(y.size()) + " y values" +
                (w.empty() ? std::string()
                           : " and " + std::to_string(w.size()) + " weights"));
  }
  std::vector<double> px = x, py = y, pw = w;
  std::optional<MeasuredResult> measured;
  if (request.measured.any()) {
    measured = Measure(px, py, pw, request.measured, naming);
  }
  // A table counts its knots in a signed 32-bit field.
  constexpr std::size_t kMost = std::numeric_limits<int32_t>::max();
  if (px.size() > kMost) {
    throw Error(std::to_string(px.size()) + " points, at most " +
                std::to_string(kMost) + " fit in a table");
  }
  const auto n = static_cast<int32_t>(px.size());
  std::vector<double> a(px.size()), b(px.size()), c(px.size());
  const DataSetFit made(request, n, px.data(), py.data(),
                        pw.empty() ? nullptr : pw.data(),
                        {a.data(), b.data(), c.data()});
  for (const Problem *problem : {&made.problem(), &made.refused()}) {
    if (!problem->empty()) {
      throw Error(problem->text);
    }
  }
  if (const auto knots = made.knots()) {
    const ToleranceResult result{
        knots->x.size(), made.bound(),    made.relative_bound(),
        knots->error,    knots->worst_at, knots->allowed,
        knots->met};
    return {SplineOf(*knots), made.form(), result, measured};
  }
  if (const auto smoothing = made.smoothing()) {
    return {SplineOf(*smoothing), made.form(), std::nullopt, measured};
  }
  return {SplineOf(made.fields()), made.form(), std::nullopt, measured};
}

} // namespace knotfit
