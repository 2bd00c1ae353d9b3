#include "data_set_fit.h"

#include "../evaluate/evaluate.h"
#include "../table/table_check.h"
#include "hermite.h"
#include "methods.h"
#include "not_a_knot.h"

#include <cmath>
#include <cstring>
#include <span>

namespace knotfit {

// The solver's rows live where the results go: the right-hand side in a,
// the diagonal in the eight bytes that then hold (b, c) as binary32.
struct DataSetFit::CompactWork {
  DataSetFit &fit;
  double *a, *bc;
  double &Diagonal(int32_t i) { return bc[i]; }
  double &Rhs(int32_t i) { return a[i]; }
  void Finish(int32_t i, double slope, double b, double c) {
    a[i] = slope;
    const float pair[2] = {Narrow(b), Narrow(c)};
    std::memcpy(&bc[i], pair, sizeof pair);
    // i runs down: the last segment seen is the lowest, the one a check
    // from knot 0 up names first.
    if (!FitsBinary32(b)) {
      fit.bad_b_ = i;
      fit.bad_b_value_ = b;
    }
    if (!FitsBinary32(c)) {
      fit.bad_c_ = i;
      fit.bad_c_value_ = c;
    }
  }
};

DataSetFit::DataSetFit(const Request &request, int32_t n, const double *x,
                       const double *y, const double *w, FitArrays work,
                       bool compact, const ToleranceProgress &progress)
    : form_(request.form) {
  const MethodInfo &kind = InfoOf(request.method.method);
  problem_.text = PointsProblem(n, x, y, &problem_.about, kind.merges_equal_x);
  if (problem_.empty()) {
    problem_.text = MethodProblem(request.method, n, x, y);
  }
  if (!problem_.empty()) {
    return;
  }
  Fit(request, n, x, y, w, work, compact, progress);
}

void DataSetFit::Fit(const Request &request, int32_t n, const double *x,
                     const double *y, const double *w, FitArrays work,
                     bool compact, const ToleranceProgress &progress) {
  const auto size = static_cast<std::size_t>(n);
  const MethodChoice &method = request.method;
  const auto fit_near = InfoOf(method.method).fit_near;
  const bool bound = request.tolerance.has_value();
  const bool automatic = request.automatic_form;
  if (bound && fit_near == nullptr) {
    FitWithin(request, n, x, y, progress);
    return;
  }
  if (fit_near != nullptr) {
    smoothing_ = std::make_shared<SmoothingFit>();
    SmoothingFit &f = *smoothing_;
    ++made_.near;
    refused_.text = fit_near({x, size}, {y, size},
                             w != nullptr ? std::span<const double>(w, size)
                                          : std::span<const double>(),
                             request.smoothing, f);
    // Refused, it holds no knot (and is written in no form).
    fields_ = FieldsOf(f);
    merged_ = f.x.size() < size;
    if (automatic && !bound) {
      form_ = refused_.empty() ? LeastTableForm(fields_) : TableForm::kClassic;
    }
    SetOrigin();
    if (bound && refused_.empty()) {
      // Lambda chosen as without a bound, then the fewest knots whose
      // table follows the smoothing fit within it.
      FitWithin(request, n, x, y, progress);
    }
    return;
  }
  fields_.n = n;
  fields_.x = x;
  fields_.y = y;
  fields_.a = work.a;
  SetOrigin();
  if (compact && method.method == Method::kNotAKnot && n >= 4 &&
      form_ != TableForm::kDouble && !automatic) {
    fields_.bc = reinterpret_cast<const float *>(work.b);
    ++made_.through;
    CompactWork solve{*this, work.a, work.b};
    SolveNotAKnot(n, x, y, solve);
    return;
  }
  fields_.b = work.b;
  fields_.c = work.c;
  ++made_.through;
  ComputeSpline(method, n, x, y, work.a, work.b, work.c);
  if (automatic) {
    // Judged as made, then written as it is in the form chosen: in double,
    // never compact.
    form_ = LeastTableForm(fields_);
    SetOrigin();
  }
}

void DataSetFit::FitWithin(const Request &request, int32_t n, const double *x,
                           const double *y, const ToleranceProgress &progress) {
  const Tolerance &bound = *request.tolerance;
  bound_ = bound.value == 0.0 ? 0.0 : AbsoluteTolerance(bound, n, y);
  relative_ = bound.relative;
  // A smoothing fit's table follows the fit, judged at its knots.
  const SmoothingFit *follow = smoothing_.get();
  const int32_t m =
      follow != nullptr ? static_cast<int32_t>(follow->x.size()) : n;
  const double *at = follow != nullptr ? follow->y.data() : y;
  Problem nothing;
  nothing.text = BoundProblem({bound_, relative_}, m, at,
                              follow != nullptr ? nullptr : &nothing.about);
  if (!nothing.empty()) {
    refused_ = std::move(nothing);
    return;
  }
  // Automatic: the first form whose table meets the bound, else the one with
  // the smallest error, the earlier of equals.
  const TableForm all[] = {TableForm::kClassic, TableForm::kOffset,
                           TableForm::kDouble};
  const std::span<const TableForm> forms =
      request.automatic_form ? std::span<const TableForm>(all)
                             : std::span<const TableForm>(&form_, 1);
  TableForm chosen = form_;
  for (const TableForm form : forms) {
    // The knots are among the points, the two ends always, so x that the
    // form cannot hold (an x range that overflows a double among it) is
    // refused as it is without a bound, at the same point. The knots are
    // checked on the table in the form it is written in.
    TableFields points;
    points.n = n;
    points.x = x;
    points.x0 = x[0];
    Problem refused;
    refused.text = TableProblem(points, &refused.about, form);
    if (!refused.empty()) {
      refused_ = std::move(refused); // kept while no form can take x
      continue;
    }
    const Bound within{bound_, relative_};
    ++made_.searches;
    auto fit = std::make_shared<ToleranceFit>(
        follow != nullptr
            ? FollowWithinTolerance(m, follow->x.data(), follow->y.data(),
                                    follow->a.data(), follow->b.data(),
                                    follow->c.data(), within, form, progress)
            : FitWithinTolerance(request.method, n, x, y, within, form,
                                 progress));
    if (!knots_ || (fit->met && !knots_->met) ||
        (!knots_->met && fit->error < knots_->error)) {
      knots_ = std::move(fit);
      chosen = form;
    }
    if (knots_->met) {
      break;
    }
  }
  if (!knots_) {
    return; // refused
  }
  refused_ = {};
  form_ = chosen;
  fields_ = FieldsOf(*knots_);
  merged_ = true;
  SetOrigin();
}

// The origin of the offset and double forms, once the knots are set; a fit
// refused holds none.
void DataSetFit::SetOrigin() {
  if (form_ != TableForm::kClassic && fields_.n > 0) {
    knotfit::SetOrigin(fields_);
  }
}

Problem DataSetFit::AtPoint(Problem problem) const {
  if (merged_) {
    problem.about = {};
  }
  return problem;
}

Problem DataSetFit::Collapsed() const {
  Problem problem;
  problem.text =
      CollapsedKnots(fields_.n, fields_.x, &problem.about, form_, fields_.x0);
  return AtPoint(problem);
}

Problem DataSetFit::Refusal() const {
  if (!refused_.empty()) {
    return refused_;
  }
  Problem problem;
  problem.text = TableProblem(fields_, &problem.about, form_);
  if (problem.empty() && bad_b_ >= 0) {
    problem = {FieldProblem("b", bad_b_, bad_b_value_), {bad_b_, 'b'}};
  }
  if (problem.empty() && bad_c_ >= 0) {
    problem = {FieldProblem("c", bad_c_, bad_c_value_), {bad_c_, 'c'}};
  }
  return AtPoint(problem);
}

double DataSetFit::Value(double t) const {
  const TableFields &f = fields_;
  if (f.bc == nullptr) {
    return Pieces<double>{
        static_cast<std::size_t>(f.n), f.x, f.y, f.a, f.b, f.c}
        .Value(t);
  }
  return ClampedValue(
      static_cast<std::size_t>(f.n), f.x, f.y, t,
      [this](std::size_t k, double u) { return SegmentValue(k, u); });
}

double DataSetFit::ValueAfter(double t, Walk &walk) const {
  const TableFields &f = fields_;
  const auto n = static_cast<std::size_t>(f.n);
  if (std::isnan(t) || t <= f.x[0] || t >= f.x[n - 1]) {
    return Value(t); // the flat ends
  }
  std::size_t &k = walk.segment;
  while (k + 2 < n && f.x[k + 1] < t) {
    ++k;
  }
  if (f.bc == nullptr) {
    return SegmentValue(k, t - f.x[k]);
  }
  if (walk.made != k) {
    const SegmentCoefficients seg = CompactSegment(k);
    walk = {k, k, seg.b, seg.c};
  }
  return CubicAt(f.y[k], f.a[k], walk.b, walk.c, t - f.x[k]);
}

// S on segment k at u = t - x[k]: the fit's cubic, or the compact form's
// segment recomputed from its slopes.
double DataSetFit::SegmentValue(std::size_t k, double u) const {
  const TableFields &f = fields_;
  if (f.bc == nullptr) {
    return CubicAt(f.y[k], f.a[k], f.b[k], f.c[k], u);
  }
  const SegmentCoefficients seg = CompactSegment(k);
  return CubicAt(f.y[k], f.a[k], seg.b, seg.c, u);
}

// The compact form's b and c of segment k, from the slopes at its ends.
SegmentCoefficients DataSetFit::CompactSegment(std::size_t k) const {
  const TableFields &f = fields_;
  return Hermite(f.x[k], f.x[k + 1], f.y[k], f.y[k + 1], f.a[k], f.a[k + 1]);
}

} // namespace knotfit
