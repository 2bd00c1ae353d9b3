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
// lambda is given, or chosen by generalised cross-validation (GCV) or by
// leave-one-out cross-validation (CV) over the n points as given (repeated
// x each counted), or so that the fit has K degrees of freedom (the trace
// of its influence matrix A on the distinct x). lambda is in the caller's
// units: it scales with the cube of x's unit and with the weights' unit, not
// with y's. The natural scale is (x_{n-1} - x_0)^3 sum w / n.
//
// Each lambda tried costs O(n) time; GCV and CV try a few dozen, a given
// lambda one. Memory is O(n): 12 doubles a distinct x, the result included,
// asked for on huge pages and mapped before it is written (fresh_arrays.h);
// CV on tied points 3 doubles a point and an index a distinct x more, the
// details 2 doubles a point and 2 a distinct x. The result is the same
// doubles in every build.
#ifndef KNOTFIT_LIB_SMOOTHING_SPLINE_H
#define KNOTFIT_LIB_SMOOTHING_SPLINE_H

#include "knotfit/spline.hpp" // Smoothing

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace knotfit {

struct SmoothingFit {
  // Per distinct x, in the SplineTable form of knotfit.h: the knot, the
  // smoothed value f(x_k), the slope f'(x_k), and the quadratic and cubic
  // coefficients of the segment starting there (0 at the last knot), made by
  // Hermite() from the values and slopes, as the program makes them for
  // every method.
  std::vector<double> x, y, a, b, c;
  double lambda = 0.0; // the lambda used, in the caller's units
  double df = 0.0;     // tr A, on the distinct x
  // n RSS / (n - df)^2 over the n points as given: RSS counts the scatter
  // of tied y about their mean; 0 when df = n (lambda = 0 without ties).
  double gcv = 0.0;
  // The criterion reported: CV for Rule::kCv, else GCV; its score (for CV
  // sum w_i ((y_i - f(x_i)) / (1 - h_i))^2 / sum w_i), none where some
  // h_i = 1 (lambda = 0 and a point alone at its x).
  bool cv = false;
  std::optional<double> score;
  // sigma^2 = RSS / (n - df), none where n - df <= 0; band_max, the largest
  // width (upper - lower) of the 95% band, none with sigma.
  std::optional<double> sigma;
  std::optional<double> band_max;
  // With how.details only (else empty): per point as given, y - f(x) and
  // its leverage h = A_kk w / W_k (W_k the summed weight at its knot k);
  // per knot, A_kk / W_k, the band's variance over sigma^2.
  std::vector<double> residuals, leverage, variance;
  // Over the points as given (ties not merged): rss = sum w_i r_i^2, rms =
  // sqrt(rss / sum w_i), and the largest |r_i| = |y_i - f(x_i)| with its x
  // (the first of equal ones).
  double rss = 0.0;
  double rms = 0.0;
  double max_residual = 0.0;
  double max_residual_x = 0.0;
  // The useful range of lambda, which GCV searches and df starts from (0 for
  // a given lambda and for df = n): beyond its ends GCV stays within 1e-7 of
  // its value there.
  double lambda_low = 0.0;
  double lambda_high = 0.0;
  int evaluations = 0; // how many lambdas were tried
};

// Fits (x, y) with weights w (empty: all 1). Returns why the points or the
// rule cannot be fitted, in words for the program's messages ("smooth needs
// at least 3 distinct x (2 given)", "smooth needs x in non-decreasing order
// (point 7)", "smooth weight -1 of point 2 is not finite and positive",
// "smooth df 61 is not above 2 and at most the number of distinct x, 60",
// ...); empty on success, with out filled. Besides finite x, y and weights,
// it needs an x range that a double holds, every gap between distinct x at
// least 2^-100 of it and the weights within a factor 2^100 of each other;
// weights of any size else, whose sum may overflow (lambda and gcv, which
// scale with them, are then inf). A lambda far beyond the useful range (at
// least 2^43 times its top) is capped there: the fit is then the weighted
// least-squares line to within rounding.
std::string FitSmoothingSpline(std::span<const double> x,
                               std::span<const double> y,
                               std::span<const double> w, const Smoothing &how,
                               SmoothingFit &out);

} // namespace knotfit

#endif
