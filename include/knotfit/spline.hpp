// knotfit's C++ interface: fit a spline through points and evaluate it.
//
// A spline holds n knots x (strictly increasing) with their ordinates y, the
// slope a at each knot, and the quadratic and cubic coefficients b and c of
// the segment starting there, in double precision: exactly the arrays
// ComputeCubicSpline of knotfit.h fills. On the segment from x[k] to x[k+1],
// with u = t - x[k],
//
//   S(t) = y[k] + a[k]*u + b[k]*u^2 + c[k]*u^3.
//
// A smoothing spline (smooth below) is the same: the knots are its distinct
// x, y the smoothed values f(x[k]).
//
// Outside [x[0], x[n-1]] S follows the Extrapolation rule passed, by default
// the ordinate of the nearer end knot, as in the program's plot files: the
// extension is flat, so there S' and S'' are 0 and the integral grows
// linearly.
//
// Nothing here prints, exits or reads the environment; a problem raises
// knotfit::Error.
#ifndef KNOTFIT_SPLINE_HPP
#define KNOTFIT_SPLINE_HPP

#include "knotfit/extrapolation.hpp"
#include "knotfit/method.hpp"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <vector>

namespace knotfit {

// Why a request cannot be carried out, in the program's own words (for bad
// points the very text the program prints for a skipped data set).
class Error : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One line of the program's plot file: the abscissa and S there.
struct PlotSample {
  double t;
  double value;
};

// How much smooth() smooths: lambda given, chosen by generalised
// cross-validation (GCV, the default), or chosen so that the fit has K
// equivalent degrees of freedom.
struct Smoothing {
  enum class Rule {
    kLambda,           // value is lambda, finite and >= 0
    kGcv,              // lambda minimises GCV over the useful range
    kDegreesOfFreedom, // value is K, 2 < K <= the number of distinct x
    kCv, // lambda minimises leave-one-out CV over the useful range
  };
  Rule rule = Rule::kGcv;
  double value = 0.0;
  // Also keep the residuals, leverages and the band's variances
  // (SmoothingFigures): two doubles a point and one a distinct x more.
  bool details = false;
};

// What a smoothing spline chose, over its n points as given (ties each
// counted). lambda is in the units of x cubed times those of the weights
// (not y's); df = tr A, A the influence matrix that takes the (merged) y to
// the fit at the distinct x, runs from their number (lambda = 0, the
// interpolant) down to 2 (the least-squares line) whatever the units;
// gcv = n RSS_w / (n - df)^2, RSS_w = sum w (y - f(x))^2 over the points
// (0 at df = n). lambda and gcv are inf where they overflow a double in
// these units (weights of 1e300 and more); the fit is fine.
struct SmoothingFigures {
  double lambda = 0.0;
  double df = 0.0;
  double gcv = 0.0;
  // The criterion: leave-one-out CV where the rule was kCv, else GCV; its
  // score: gcv, or CV = sum w ((y - f(x)) / (1 - h))^2 / sum w, h = A_kk w /
  // W_k the point's leverage (W_k the summed weight at its x), none where
  // some h = 1 (lambda = 0 with a point alone at its x).
  bool cv = false;
  std::optional<double> score;
  // sigma^2 = RSS_w / (n - df), none where n - df <= 0; band_max, the
  // largest width (upper - lower) of the 95% band (band() below), none
  // with sigma.
  std::optional<double> sigma;
  std::optional<double> band_max;
  // With Smoothing::details only (else empty): per point as given, y - f(x)
  // and its leverage h; per distinct x, A_kk / W_k, the fit's posterior
  // variance there over sigma^2.
  std::vector<double> residuals, leverage, variance;
};

class Spline {
public:
  std::size_t size() const { return x_.size(); } // the number of knots, >= 2
  const std::vector<double> &x() const { return x_; }
  const std::vector<double> &y() const { return y_; }
  const std::vector<double> &a() const { return a_; } // slopes
  const std::vector<double> &b() const { return b_; } // b[n-1] is 0
  const std::vector<double> &c() const { return c_; } // c[n-1] is 0

  // S(t); with the default rule bit for bit what getValue returns. Here and
  // below, an interior knot hit exactly is evaluated on the segment that
  // ends there, and a NaN argument gives NaN.
  double value(double t, Extrapolation e = Extrapolation::kClamp) const;
  // S'(t) and S''(t): at x[0] and x[n-1] the one-sided derivatives from
  // inside.
  double derivative(double t, Extrapolation e = Extrapolation::kClamp) const;
  double second_derivative(double t,
                           Extrapolation e = Extrapolation::kClamp) const;
  // The integral of S from lo to hi; negative when hi < lo.
  double integral(double lo, double hi,
                  Extrapolation e = Extrapolation::kClamp) const;
  // The abscissas in [x[0], x[n-1]] where S = v, in increasing order (one
  // for a monotone spline whose range holds v): each r is a double where
  // S(r) - v is 0 or changes sign between r and a neighbouring double. A
  // segment on which S is v throughout gives its two end knots. Empty for a
  // NaN v.
  std::vector<double> inverse(double v) const;

  // The samples of the program's plot file: from x[0] in steps of
  // (x[n-1] - x[0]) / 500 rounded to binary32, while t <= x[n-1]; usually
  // 500 or 501. Raises Error when the step does not advance t (a range too
  // narrow for its magnitude).
  std::vector<PlotSample> plot_samples() const;

  // What smooth() chose; empty for an interpolant.
  const std::optional<SmoothingFigures> &smoothing() const {
    return smoothing_;
  }

private:
  friend class SplineMaker; // fit's and smooth's helper, in the library
  Spline() = default;
  std::vector<double> x_, y_, a_, b_, c_;
  std::optional<SmoothingFigures> smoothing_;
};

// The spline of the chosen method (by default not-a-knot; 3 points give the
// parabola through them, 2 the straight line) through the n points (x[i],
// y[i]); for Method::kSmooth the smoothing spline near them, its smoothing
// chosen by generalised cross-validation, its y the smoothed values (as
// smooth below with weights 1; its figures in smoothing()). Raises
// Error for fewer than 2 points, a value that is not finite, or x not
// strictly increasing.
Spline fit(const double *x, const double *y, std::size_t n,
           const MethodChoice &method = MethodChoice{});
// The same for two vectors of equal length.
Spline fit(const std::vector<double> &x, const std::vector<double> &y,
           const MethodChoice &method = MethodChoice{});

// The cubic smoothing spline of the n points (x[i], y[i]) with weights w[i]
// (w null: all 1): the f minimising
//
//   sum_i w[i] (y[i] - f(x[i]))^2 + lambda * integral of f''(t)^2 dt
//
// over [x[0], x[n-1]], the natural cubic spline with a knot at every
// distinct x; points with equal x are one knot with their summed weight and
// weighted mean y. lambda as how says; its figures in smoothing(). x must
// not decrease and hold 3 distinct values, every value be finite and every
// weight positive; else raises Error ("smooth needs at least 3 distinct x
// (2 given)", ...). O(n) time and memory for each lambda tried; GCV tries a
// few dozen.
Spline smooth(const double *x, const double *y, const double *w, std::size_t n,
              const Smoothing &how = Smoothing{});
// The same for vectors of equal length (w empty: all 1).
Spline smooth(const std::vector<double> &x, const std::vector<double> &y,
              const std::vector<double> &w = {},
              const Smoothing &how = Smoothing{});

// The pointwise Bayesian band of a smoothing spline made with
// Smoothing::details, at each t: f(t) -+ z sigma sqrt(v(t)), z the normal
// quantile of (1 + level) / 2 and v the variances A_kk / W_k interpolated
// linearly between the distinct x and held at the end values beyond them.
// Raises Error for a level outside (0, 1), a spline without the variances
// or a fit without sigma.
struct Band {
  std::vector<double> lower, upper;
};
Band band(const Spline &s, const std::vector<double> &t, double level = 0.95);

} // namespace knotfit

#endif
