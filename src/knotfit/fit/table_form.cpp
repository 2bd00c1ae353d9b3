#include "fit/table_form.h"

#include "knotfit.h"

#include <cmath>
#include <cstring>
#include <span>

namespace detail = knotfit::detail;

// The solver's rows live where the results go: the right-hand side in a,
// the diagonal in the eight bytes that then hold (b, c) as binary32.
struct TableForm::CompactWork {
  TableForm &form;
  double *a, *bc;
  double &Diagonal(int32_t i) { return bc[i]; }
  double &Rhs(int32_t i) { return a[i]; }
  void Finish(int32_t i, double slope, double b, double c) {
    a[i] = slope;
    const float pair[2] = {detail::Narrow(b), detail::Narrow(c)};
    std::memcpy(&bc[i], pair, sizeof pair);
    // i runs down: the last segment seen is the lowest, the one a check
    // from knot 0 up names first.
    if (!detail::FitsBinary32(b)) {
      form.bad_b_ = i;
      form.bad_b_value_ = b;
    }
    if (!detail::FitsBinary32(c)) {
      form.bad_c_ = i;
      form.bad_c_value_ = c;
    }
  }
};

TableForm::TableForm(const knotfit::MethodChoice &method,
                     knotfit::TableForm form, int32_t n, const double *x,
                     const double *y, Workspace &work, const double *w,
                     const detail::Smoothing &how,
                     const detail::Tolerance *bound, bool automatic,
                     const detail::ToleranceProgress &progress)
    : form_(form) {
  const auto size = static_cast<size_t>(n);
  const auto fit_near = detail::InfoOf(method.method).fit_near;
  if (bound != nullptr && fit_near == nullptr) {
    FitWithin(method, n, x, y, *bound, automatic, progress);
    return;
  }
  if (fit_near != nullptr) {
    smoothing_ = std::make_shared<detail::SmoothingFit>();
    detail::SmoothingFit &f = *smoothing_;
    refused_.text = fit_near({x, size}, {y, size},
                             w != nullptr ? std::span<const double>(w, size)
                                          : std::span<const double>(),
                             how, f);
    // Refused, it holds no knot (and is written in no form).
    fields_ = detail::FieldsOf(f);
    merged_ = f.x.size() < size;
    if (automatic && bound == nullptr) {
      form_ = refused_.empty() ? detail::LeastTableForm(fields_)
                               : knotfit::TableForm::kClassic;
    }
    SetOrigin();
    if (bound != nullptr && refused_.empty()) {
      // Lambda chosen as without a bound, then the fewest knots whose
      // table follows the smoothing fit within it.
      FitWithin(method, n, x, y, *bound, automatic, progress);
    }
    return;
  }
  work.a.ResizeForOverwrite(size);
  work.b.ResizeForOverwrite(size);
  fields_.n = n;
  fields_.x = x;
  fields_.y = y;
  fields_.a = work.a.data();
  SetOrigin();
  if (method.method == knotfit::Method::kNotAKnot && n >= 4 &&
      form != knotfit::TableForm::kDouble && !automatic) {
    fields_.bc = reinterpret_cast<const float *>(work.b.data());
    CompactWork compact{*this, work.a.data(), work.b.data()};
    detail::SolveNotAKnot(n, x, y, compact);
    return;
  }
  work.c.ResizeForOverwrite(size);
  fields_.b = work.b.data();
  fields_.c = work.c.data();
  detail::ComputeSpline(method, n, x, y, work.a.data(), work.b.data(),
                        work.c.data());
  if (automatic) {
    // Judged as made, then written as it is in the form chosen: in double,
    // never compact.
    form_ = detail::LeastTableForm(fields_);
    SetOrigin();
  }
}

void TableForm::FitWithin(const knotfit::MethodChoice &method, int32_t n,
                          const double *x, const double *y,
                          const detail::Tolerance &bound, bool automatic,
                          const detail::ToleranceProgress &progress) {
  bound_ = bound.value == 0.0 ? 0.0 : detail::AbsoluteTolerance(bound, n, y);
  relative_ = bound.relative;
  // A smoothing fit's table follows the fit, judged at its knots.
  const detail::SmoothingFit *follow = smoothing_.get();
  const int32_t m =
      follow != nullptr ? static_cast<int32_t>(follow->x.size()) : n;
  const double *at = follow != nullptr ? follow->y.data() : y;
  Problem nothing;
  nothing.text = detail::BoundProblem(
      {bound_, relative_}, m, at, follow != nullptr ? nullptr : &nothing.about);
  if (!nothing.empty()) {
    refused_ = std::move(nothing);
    return;
  }
  // Automatic: the first form whose table meets the bound, else the one with
  // the smallest error, the earlier of equals.
  const knotfit::TableForm all[] = {knotfit::TableForm::kClassic,
                                    knotfit::TableForm::kOffset,
                                    knotfit::TableForm::kDouble};
  const std::span<const knotfit::TableForm> forms =
      automatic ? std::span<const knotfit::TableForm>(all)
                : std::span<const knotfit::TableForm>(&form_, 1);
  knotfit::TableForm chosen = form_;
  for (const knotfit::TableForm form : forms) {
    // The knots are among the points, the two ends always, so x that the
    // form cannot hold (an x range that overflows a double among it) is
    // refused as it is without a bound, at the same point. The knots are
    // checked on the table in the form it is written in.
    detail::TableFields points;
    points.n = n;
    points.x = x;
    points.x0 = x[0];
    Problem refused;
    refused.text = detail::TableProblem(points, &refused.about, form);
    if (!refused.empty()) {
      refused_ = std::move(refused); // kept while no form can take x
      continue;
    }
    const detail::Bound within{bound_, relative_};
    auto fit = std::make_shared<detail::ToleranceFit>(
        follow != nullptr
            ? detail::FollowWithinTolerance(
                  m, follow->x.data(), follow->y.data(), follow->a.data(),
                  follow->b.data(), follow->c.data(), within, form, progress)
            : detail::FitWithinTolerance(method, n, x, y, within, form,
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
  fields_ = detail::FieldsOf(*knots_);
  merged_ = true;
  SetOrigin();
}

// The origin of the offset and double forms, once the knots are set; a fit
// refused holds none.
void TableForm::SetOrigin() {
  if (form_ != knotfit::TableForm::kClassic && fields_.n > 0) {
    detail::SetOrigin(fields_);
  }
}

Problem TableForm::AtPoint(Problem problem) const {
  if (merged_) {
    problem.about = {};
  }
  return problem;
}

Problem TableForm::Collapsed() const {
  Problem problem;
  problem.text = detail::CollapsedKnots(fields_.n, fields_.x, &problem.about,
                                        form_, fields_.x0);
  return AtPoint(problem);
}

Problem TableForm::Refusal() const {
  if (!refused_.empty()) {
    return refused_;
  }
  Problem problem;
  problem.text = detail::TableProblem(fields_, &problem.about, form_);
  if (problem.empty() && bad_b_ >= 0) {
    problem = {detail::FieldProblem("b", bad_b_, bad_b_value_), {bad_b_, 'b'}};
  }
  if (problem.empty() && bad_c_ >= 0) {
    problem = {detail::FieldProblem("c", bad_c_, bad_c_value_), {bad_c_, 'c'}};
  }
  return AtPoint(problem);
}

double TableForm::Value(double t) const {
  const detail::TableFields &f = fields_;
  if (f.bc == nullptr) {
    return getValue(t, f.n, f.x, f.y, f.a, f.b, f.c);
  }
  return detail::ClampedValue(
      static_cast<size_t>(f.n), f.x, f.y, t,
      [this](size_t k, double u) { return SegmentValue(k, u); });
}

double TableForm::ValueAfter(double t, Walk &walk) const {
  const detail::TableFields &f = fields_;
  const auto n = static_cast<size_t>(f.n);
  if (std::isnan(t) || t <= f.x[0] || t >= f.x[n - 1]) {
    return Value(t); // the flat ends
  }
  size_t &k = walk.segment;
  while (k + 2 < n && f.x[k + 1] < t) {
    ++k;
  }
  if (f.bc == nullptr) {
    return SegmentValue(k, t - f.x[k]);
  }
  if (walk.made != k) {
    const detail::SegmentCoefficients seg = CompactSegment(k);
    walk = {k, k, seg.b, seg.c};
  }
  return detail::CubicAt(f.y[k], f.a[k], walk.b, walk.c, t - f.x[k]);
}

// S on segment k at u = t - x[k]: the SplineTable's cubic, or the compact
// form's segment recomputed from its slopes.
double TableForm::SegmentValue(size_t k, double u) const {
  const detail::TableFields &f = fields_;
  if (f.bc == nullptr) {
    return detail::CubicAt(f.y[k], f.a[k], f.b[k], f.c[k], u);
  }
  const detail::SegmentCoefficients seg = CompactSegment(k);
  return detail::CubicAt(f.y[k], f.a[k], seg.b, seg.c, u);
}

// The compact form's b and c of segment k, from the slopes at its ends.
detail::SegmentCoefficients TableForm::CompactSegment(size_t k) const {
  const detail::TableFields &f = fields_;
  return detail::Hermite(f.x[k], f.x[k + 1], f.y[k], f.y[k + 1], f.a[k],
                         f.a[k + 1]);
}
