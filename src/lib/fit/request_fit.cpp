// A request carried out on one data set: the measured rules, the method's
// fit, then the knots a bound asks for, in the form asked for.
#include "knotfit/request.hpp"

#include "../table/table_check.h"
#include "../table/table_encoding.h"
#include "../text/short_numbers.h"
#include "measured.h"
#include "methods.h"
#include "tolerance_knots.h"

#include <cmath>
#include <cstdint>
#include <span>
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

// The table within the bound that meets it in the first of forms, else the
// one that misses least (the earlier of equals). Choosing among several, a
// form that cannot hold the points' x is passed over (when none can, the
// last one's problem is raised); a single form is the caller's, whose table
// writer refuses what it cannot hold.
std::pair<ToleranceFit, TableForm>
WithinBound(const Spline &all, const MethodInfo &kind,
            const MethodChoice &method, const std::vector<double> &x,
            const std::vector<double> &y, const Bound &within,
            std::span<const TableForm> forms) {
  const auto n = static_cast<int32_t>(x.size());
  std::optional<ToleranceFit> best;
  TableForm chosen = forms.front();
  std::string refused;
  for (const TableForm form : forms) {
    if (forms.size() > 1) {
      TableFields points;
      points.n = n;
      points.x = x.data();
      points.x0 = x[0];
      if (std::string problem = TableProblem(points, nullptr, form);
          !problem.empty()) {
        refused = std::move(problem);
        continue;
      }
    }
    ToleranceFit fit =
        kind.fit_near != nullptr
            ? FollowWithinTolerance(all, within, form)
            : FitWithinTolerance(method, n, x.data(), y.data(), within, form);
    if (!best || (fit.met && !best->met) ||
        (!best->met && fit.error < best->error)) {
      best = std::move(fit);
      chosen = form;
    }
    if (best->met) {
      break;
    }
  }
  if (!best) {
    throw Error(refused);
  }
  return {std::move(*best), chosen};
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
  const MethodInfo &kind = InfoOf(request.method.method);
  // The fit through every point checks them; with a bound, the table of
  // the knots found replaces it.
  Spline all = kind.fit_near != nullptr
                   ? smooth(px, py, pw, request.smoothing)
                   : fit(px.data(), py.data(), px.size(), request.method);
  if (!request.tolerance) {
    // The least form whose table keeps the fit, judged on the fit made.
    const TableForm form =
        request.automatic_form ? LeastTableForm(FieldsOf(all)) : request.form;
    return {std::move(all), form, std::nullopt, measured};
  }
  const Tolerance &bound = *request.tolerance;
  const auto n = static_cast<int32_t>(py.size());
  const double e =
      bound.value == 0.0 ? 0.0 : AbsoluteTolerance(bound, n, py.data());
  const Bound within{e, bound.relative};
  // A smoothing fit's table follows the fit, judged at its knots.
  const std::vector<double> &at = kind.fit_near != nullptr ? all.y() : py;
  if (const std::string nothing =
          BoundProblem(within, static_cast<int32_t>(at.size()), at.data());
      !nothing.empty()) {
    throw Error(nothing);
  }
  static constexpr TableForm kAll[] = {TableForm::kClassic, TableForm::kOffset,
                                       TableForm::kDouble};
  const auto [knots, form] = WithinBound(
      all, kind, request.method, px, py, within,
      request.automatic_form ? std::span<const TableForm>(kAll)
                             : std::span<const TableForm>(&request.form, 1));
  const ToleranceResult result{
      knots.x.size(), e,        bound.relative, knots.error, knots.worst_at,
      knots.allowed,  knots.met};
  return {SplineOf(knots), form, result, measured};
}

} // namespace knotfit
