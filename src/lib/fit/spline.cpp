#include "knotfit/spline.hpp"

#include "../evaluate/calculus.h"
#include "../evaluate/evaluate.h"
#include "../evaluate/plot_samples.h"
#include "../exact_math.h"
#include "../table/table_encoding.h"
#include "../text/short_numbers.h"
#include "checks.h"
#include "methods.h"
#include "smoothing_spline.h"
#include "tolerance_knots.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <utility>

namespace knotfit {

class SplineMaker {
public:
  static Spline Fit(const double *x, const double *y, std::size_t n,
                    const MethodChoice &method) {
    // A table counts its knots in a signed 32-bit field.
    constexpr std::size_t kMost = std::numeric_limits<int32_t>::max();
    if (n > kMost) {
      throw Error(std::to_string(n) + " points, at most " +
                  std::to_string(kMost) + " fit in a table");
    }
    const auto count = static_cast<int32_t>(n);
    std::string problem = PointsProblem(count, x, y);
    if (problem.empty()) {
      problem = MethodProblem(method, count, x, y);
    }
    if (!problem.empty()) {
      throw Error(problem);
    }
    if (InfoOf(method.method).fit_near != nullptr) {
      return Smooth(x, y, nullptr, n, Smoothing{}); // by GCV, weights 1
    }
    Spline s;
    s.x_.assign(x, x + n);
    s.y_.assign(y, y + n);
    s.a_.resize(n);
    s.b_.resize(n);
    s.c_.resize(n);
    ComputeSpline(method, count, x, y, s.a_.data(), s.b_.data(), s.c_.data());
    return s;
  }

  // The five arrays of a fit that holds them as a table does, taken over.
  template <class TableArrays> static Spline Of(TableArrays fit) {
    Spline s;
    s.x_ = std::move(fit.x);
    s.y_ = std::move(fit.y);
    s.a_ = std::move(fit.a);
    s.b_ = std::move(fit.b);
    s.c_ = std::move(fit.c);
    return s;
  }

  static Spline Smooth(const double *x, const double *y, const double *w,
                       std::size_t n, const Smoothing &how) {
    SmoothingFit fit;
    const std::string problem =
        FitSmoothingSpline({x, n}, {y, n},
                           w == nullptr ? std::span<const double>{}
                                        : std::span<const double>{w, n},
                           how, fit);
    if (!problem.empty()) {
      throw Error(problem);
    }
    return Of(std::move(fit));
  }
  // A smoothing fit with what it chose.
  static Spline Of(SmoothingFit fit) {
    SmoothingFigures figures{fit.lambda,
                             fit.df,
                             fit.gcv,
                             fit.cv,
                             fit.score,
                             fit.sigma,
                             fit.band_max,
                             std::move(fit.residuals),
                             std::move(fit.leverage),
                             std::move(fit.variance)};
    Spline s = Of<SmoothingFit>(std::move(fit));
    s.smoothing_ = std::move(figures);
    return s;
  }
  // An interpolant's fields, held in double.
  static Spline Of(const TableFields &f) {
    const auto n = static_cast<std::size_t>(f.n);
    Spline s;
    s.x_.assign(f.x, f.x + n);
    s.y_.assign(f.y, f.y + n);
    s.a_.assign(f.a, f.a + n);
    s.b_.assign(f.b, f.b + n);
    s.c_.assign(f.c, f.c + n);
    return s;
  }
};

namespace {

// The standard normal's quantile: Acklam's rational approximation (relative
// error 1.2e-9), then one step of Halley's method on the normal's
// distribution function, which leaves it right to a few units of the last
// place.
double NormalQuantile(double p) {
  static constexpr double a[] = {-3.969683028665376e+01, 2.209460984245205e+02,
                                 -2.759285104469687e+02, 1.383577518672690e+02,
                                 -3.066479806614716e+01, 2.506628277459239e+00};
  static constexpr double b[] = {-5.447609879822406e+01, 1.615858368580409e+02,
                                 -1.556989798598866e+02, 6.680131188771972e+01,
                                 -1.328068155288572e+01};
  static constexpr double c[] = {-7.784894002430293e-03, -3.223964580411365e-01,
                                 -2.400758277161838e+00, -2.549732539343734e+00,
                                 4.374664141464968e+00,  2.938163982698783e+00};
  static constexpr double d[] = {7.784695709041462e-03, 3.224671290700398e-01,
                                 2.445134137142996e+00, 3.754408661907416e+00};
  auto tail = [&](double q) { // the lower tail, q = sqrt(-2 log p)
    return (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q +
            c[5]) /
           ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
  };
  double z = 0.0;
  if (p < 0.02425) {
    z = tail(std::sqrt(-2.0 * std::log(p)));
  } else if (p > 1.0 - 0.02425) {
    z = -tail(std::sqrt(-2.0 * std::log1p(-p)));
  } else {
    const double q = p - 0.5, r = q * q;
    z = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) *
        q /
        (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1.0);
  }
  const double e = 0.5 * std::erfc(-z / std::sqrt(2.0)) - p;
  const double u =
      e * std::sqrt(2.0 * 3.141592653589793) * std::exp(z * z / 2.0);
  return z - u / (1.0 + z * u / 2.0);
}

} // namespace

Band band(const Spline &s, const std::vector<double> &t, double level) {
  if (!(level > 0.0 && level < 1.0)) {
    throw Error("band level " + ShortNumber(level) + " is not between 0 and 1");
  }
  const auto &figures = s.smoothing();
  if (!figures || figures->variance.size() != s.size()) {
    throw Error("band needs a smoothing spline made with its details");
  }
  if (!figures->sigma) {
    throw Error("band needs sigma, which this fit has none of (n - df <= 0)");
  }
  const double z = NormalQuantile((1.0 + level) / 2.0);
  const std::vector<double> &x = s.x(), &v = figures->variance;
  Band out;
  out.lower.reserve(t.size());
  out.upper.reserve(t.size());
  for (const double at : t) {
    // v between the knots around t, linearly; held beyond the ends.
    const auto k = std::upper_bound(x.begin(), x.end(), at) - x.begin();
    double var = 0.0;
    if (k == 0) {
      var = v.front();
    } else if (static_cast<std::size_t>(k) == x.size()) {
      var = v.back();
    } else {
      const std::size_t i = static_cast<std::size_t>(k) - 1;
      const double u = (at - x[i]) / (x[i + 1] - x[i]);
      var = v[i] + u * (v[i + 1] - v[i]);
    }
    const double f = s.value(at);
    const double half = z * *figures->sigma * std::sqrt(var);
    out.lower.push_back(f - half);
    out.upper.push_back(f + half);
  }
  return out;
}

Spline SplineOf(const ToleranceFit &fit) {
  return SplineMaker::Of(fit);
}

Spline SplineOf(const SmoothingFit &fit) {
  return SplineMaker::Of(SmoothingFit(fit));
}

Spline SplineOf(const TableFields &fields) {
  return SplineMaker::Of(fields);
}

namespace {

Pieces<double> PiecesOf(const Spline &s) {
  return {s.size(),     s.x().data(), s.y().data(),
          s.a().data(), s.b().data(), s.c().data()};
}

} // namespace

Spline fit(const double *x, const double *y, std::size_t n,
           const MethodChoice &method) {
  return SplineMaker::Fit(x, y, n, method);
}

Spline fit(const std::vector<double> &x, const std::vector<double> &y,
           const MethodChoice &method) {
  if (x.size() != y.size()) {
    throw Error(std::to_string(x.size()) + " x values but " +
                std::to_string(y.size()) + " y values");
  }
  return SplineMaker::Fit(x.data(), y.data(), x.size(), method);
}

Spline smooth(const double *x, const double *y, const double *w, std::size_t n,
              const Smoothing &how) {
  return SplineMaker::Smooth(x, y, w, n, how);
}

Spline smooth(const std::vector<double> &x, const std::vector<double> &y,
              const std::vector<double> &w, const Smoothing &how) {
  if (x.size() != y.size() || (!w.empty() && w.size() != x.size())) {
    throw Error(std::to_string(x.size()) + " x values but " +
                std::to_string(y.size()) + " y values and " +
                std::to_string(w.size()) + " weights");
  }
  return SplineMaker::Smooth(x.data(), y.data(), w.empty() ? nullptr : w.data(),
                             x.size(), how);
}

double Spline::value(double t, Extrapolation e) const {
  return Calculus(PiecesOf(*this)).At(0, t, e);
}

double Spline::derivative(double t, Extrapolation e) const {
  return Calculus(PiecesOf(*this)).At(1, t, e);
}

double Spline::second_derivative(double t, Extrapolation e) const {
  return Calculus(PiecesOf(*this)).At(2, t, e);
}

double Spline::integral(double lo, double hi, Extrapolation e) const {
  return Calculus(PiecesOf(*this)).Integral(lo, hi, e);
}

std::vector<double> Spline::inverse(double v) const {
  return Calculus(PiecesOf(*this)).Inverse(v);
}

std::vector<PlotSample> Spline::plot_samples() const {
  std::vector<PlotSample> samples;
  const Pieces<double> pieces = PiecesOf(*this);
  const std::string problem = SamplePlot(
      x_.front(), x_.back(), [&pieces](double t) { return pieces.Value(t); },
      samples);
  if (!problem.empty()) {
    throw Error(problem);
  }
  return samples;
}

} // namespace knotfit
