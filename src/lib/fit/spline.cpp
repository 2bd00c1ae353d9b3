#include "knotfit/spline.hpp"

#include "../evaluate/calculus.h"
#include "../evaluate/evaluate.h"
#include "../evaluate/plot_samples.h"
#include "../exact_math.h"
#include "checks.h"
#include "methods.h"
#include "smoothing_spline.h"
#include "tolerance_knots.h"

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
    const SmoothingFigures figures{fit.lambda, fit.df, fit.gcv};
    Spline s = Of(std::move(fit));
    s.smoothing_ = figures;
    return s;
  }
};

Spline SplineOf(const ToleranceFit &fit) {
  return SplineMaker::Of(fit);
}

Spline SplineOf(const SmoothingFit &fit) {
  return SplineMaker::Of(fit);
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
