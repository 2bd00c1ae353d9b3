// The cubic smoothing spline: the f that minimises
//
//   sum_i w_i (y_i - f(x_i))^2 + lambda * integral of f''(t)^2 dt
//
// over [x_0, x_{n-1}] (weights not squared). It is the natural cubic spline
// with a knot at every distinct x; lambda = 0 gives the natural interpolant,
// lambda -> infinity the weighted least-squares line. Points with equal x
// are one knot with the summed weight and the weighted mean y: the same
// minimiser at any lambda.
//
// lambda is given, or chosen by generalised cross-validation (GCV), or so
// that the fit has K degrees of freedom (the trace of its influence matrix).
// The work and the memory are O(n) for every choice; the result is the same
// doubles in every build.
#ifndef KNOTFIT_LIB_SMOOTHING_SPLINE_H
#define KNOTFIT_LIB_SMOOTHING_SPLINE_H

#include <span>
#include <string>
#include <vector>

namespace knotfit {

struct Smoothing {
  enum class Rule {
    kLambda,           // value is lambda, finite and >= 0
    kGcv,              // lambda minimises GCV over the useful range
    kDegreesOfFreedom, // value is K, 2 < K <= the number of distinct x
  };
  Rule rule = Rule::kGcv;
  double value = 0.0;
};

struct SmoothingFit {
  // Per distinct x, in the SplineTable form of knotfit.h: the knot, the
  // smoothed value f(x_k), the slope, and the quadratic and cubic
  // coefficients of the segment starting there (0 at the last knot), built
  // by Hermite() from the values and slopes as for every other method.
  std::vector<double> x, y, a, b, c;
  double lambda = 0.0; // the lambda used, in the caller's units
  double df = 0.0;     // trace of the influence matrix on the distinct x
  // n * RSS / (n - df)^2 on the distinct x (merged y and weights); 0 when
  // df = n (lambda = 0).
  double gcv = 0.0;
  // Over the points given (ties not merged): sum w_i r_i^2, its RMS
  // sqrt(rss / sum w_i), and the largest |r_i| = |y_i - f(x_i)| with its x
  // (the first of equal ones).
  double rss = 0.0;
  double rms = 0.0;
  double max_residual = 0.0;
  double max_residual_x = 0.0;
  // The useful range of lambda: outside it GCV stays within 1e-7 of its
  // value at the nearer end. GCV searches it; the others report it.
  double lambda_low = 0.0;
  double lambda_high = 0.0;
  int evaluations = 0; // how many lambdas were tried
};

// Fits (x, y) with weights w (empty: all 1). x must be non-decreasing.
// Returns why the points or the rule cannot be fitted, e.g. "smooth needs at
// least 3 distinct x (2 given)"; empty on success, with out filled.
std::string FitSmoothingSpline(std::span<const double> x,
                               std::span<const double> y,
                               std::span<const double> w, const Smoothing &how,
                               SmoothingFit &out);

} // namespace knotfit

#endif
