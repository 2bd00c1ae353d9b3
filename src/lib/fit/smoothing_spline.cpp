// The cubic smoothing spline in O(n) time and memory: a Kalman filter run
// from both ends, met at every knot.
//
// The model. The minimiser of sum w_i (y_i - f(x_i))^2 + lambda int f''^2
// is the posterior mean of f when f'' is white noise of unit intensity (f an
// integrated Wiener process plus a line with a flat prior) and y_i = f(x_i)
// + e_i, e_i ~ N(0, H_i) independent, H_i = lambda / w_i (Wahba 1978;
// Wecker and Ansley 1983). Across a gap h the state (f, f') moves by
// [[1, h], [0, 1]] plus a disturbance of covariance
// [[h^3/3, h^2/2], [h^2/2, h]]. Every variance below is in these units, so
// lambda = 0 (exact observations) needs no special case. The influence
// matrix A (f = A y at the knots) is the posterior covariance of f times
// W / lambda, and the posterior mean of f' is the spline's slope.
//
// Leaving one point out. Let P_t be the precision of f(x_t) given every y
// but y_t, and y_t + S_t / P_t its mean. Taking y_t in is one scalar update:
//   A_tt = 1 / (1 + H_t P_t),   1 - A_tt = H_t P_t A_tt,
//   f(x_t) - y_t = H_t A_tt S_t.
// So tr A and n - tr A are each summed from positive terms, and the
// residuals come without subtracting f from y: nothing cancels at either end
// of the range of lambda. Leave-one-out CV needs no more: a point alone at
// its x misses its prediction without it by (y_t - f(x_t)) / (1 - A_tt) =
// -S_t / P_t; one of several tied points, with h_i = A_tt w_i / W_t, by
// (y_i - f(x_t)) W_t / (W_t - w_i + (1 - A_tt) w_i), sums of positive terms
// again. P_t and S_t combine what the points left of x_t
// say (a filter run left to right) with what the points right of it say
// (the same filter run right to left, x turned round): two independent
// Gaussian opinions of (f, f') at x_t.
//
// The form of an opinion. Each side's knowledge of (f, f') is kept as
//   f ~ N(m, d),   f' | f ~ N(mu + l (f - m), e)
// (the variance of f, the regression of the slope on f, and what remains of
// the slope's variance). Observing y changes only m and d. Crossing a gap h,
// with g = 1 + h l,
//   Var f = g^2 d + h^2 e + h^3/3,   Cov(f, f') = g l d + h e + h^2/2,
//   det   = d e + d h (1 + h l/2)^2 + d h^3 l^2/12 + e h^3/3 + h^4/12
// (Cauchy-Binet on the sum of the four rank-one terms), then l = Cov / Var f
// and e = det / Var f: sums of positive terms again. The textbook covariance
// filter forms e as Var f' - Cov^2 / Var f, which loses every digit across a
// gap much shorter than the one before; Reinsch's banded system
// (R + lambda Q'W^-1 Q) squares the conditioning of the second differences
// and returns noise at moderate lambda from a few thousand points on.
//
// Means are kept relative to the data: the predicted f as an offset from
// y_t, the slope as its mean given f = y_t. After two close points the slope
// is huge, and the predicted f across the next long gap more so; both enter
// only through the small factors that make the result O(y).
//
// The ends. The line's flat prior leaves f and f' unknown before the first
// point; after y_0 the slope still is, and across the first gap the slope
// given f is (f - y_0) / h, with variance (H_0 + h^3/3) / h^2. From y_1 on
// the opinion is proper.
//
// Meeting. At x_t the two sides' opinions of f multiply, and their slope
// regressions must agree, which is one more observation of f: with the right
// side's slope turned round (l_R, mu_R of the opposite sign),
//   P = 1/d_L + 1/d_R + (l_L + l_R)^2 / (e_L + e_R).
// The slope there is the two regressions at f = f(x_t), weighed by the
// inverse of their variances.
//
// Scaling. x's gaps are divided by a power of two near x's range, the
// weights by one near their mean and y by one near its largest |y| (weights
// beyond 2^+-900 and y beyond 2^900 already before ties are summed): exact,
// so that a given lambda gives the bits unscaled arithmetic would, and
// nothing overflows. lambda scales with the cube of x's unit and with w's
// unit: lambda' = lambda / 2^(3 ex + ew).
//
// Determinism. Only +, -, *, /, sqrt and the exact fabs, floor, ilogb and
// ldexp, in the order written (no libm exp or log: the lambdas tried come
// from Exp2 below), no threads: the same doubles in every build.
#include "smoothing_spline.h"

#include "../exact_math.h"
#include "../text/short_numbers.h"
#include "fresh_arrays.h"
#include "hermite.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace knotfit {
namespace {

using Values = std::vector<double>;

// The useful range of lambda: beyond its ends GCV stays within kDelta
// (relative) of its value there.
constexpr double kDelta = 1e-7;
// The largest lambda used (scaled units, where the useful range ends below
// 2^57): beyond it the fit is the weighted least-squares line to within
// rounding. It bounds every product in the filters (see KnotsProblem).
constexpr double kLargest = 0x1p100;
// The search of GCV's minimum, on the axis s = log2(lambda / lambda_low):
// the coarse step, how close to the best a coarse point must be for its
// neighbourhood to be scanned in steps of 1, how many local minima are
// refined, and to what precision: Brent's method stops with a bracket at
// most 4 tol wide in s, 1.44e-6, which brackets lambda to 1e-6, relative.
// Near its minimum s0, GCV is G0 (1 + c (s - s0)^2) with c small (4e-6 for
// the benchmark's 10^6 noisy points), so that across a bracket much wider
// than that it may change by less than its own rounding: the search then
// stops there (see Minimise).
constexpr int kCoarse = 3;
constexpr double kNear = 0.05;
constexpr size_t kDips = 3;
constexpr double kMinimumTolerance = 0.36e-6;

// The points merged to distinct x, and scaled: y and the inverse weights.
// Gaps are (x[i+1] - x[i]) * unit, unit a power of two.
struct Knots {
  Values x;             // distinct x, the result's knots
  WorkArray<double> y;  // scaled weighted mean y
  WorkArray<double> iw; // 1 / scaled weight
  double unit = 1.0;
  int ex = 0, ew = 0, ey = 0; // x, w and y were divided by 2^ex, 2^ew, 2^ey
  double range = 0.0;         // of x, scaled
  double weight = 0.0;        // the sum, scaled
  size_t n = 0;               // the points as given
  double scatter = 0.0;       // sum w (y - the mean y at its x)^2, scaled
  // For CV with ties: per point, its y less its knot's mean y, its weight
  // and the rest of its knot's weight (scaled); where each knot's start.
  WorkArray<size_t> first;
  WorkArray<double> dy, pw, others;
  double Gap(size_t i) const { return (x[i + 1] - x[i]) * unit; }
};

// The exponent values are divided by before they are summed: 0 for values
// of ordinary size, so that their sums are the plain ones; else that of the
// largest |v|, so that a sum of up to 2^64 of them cannot overflow (nor a
// weighted sum of y) and weights within 2^100 of the largest stay normal,
// exact once divided. (Weights further apart are refused.)
int SumExponent(std::span<const double> v) {
  double top = 0.0;
  for (const double a : v) {
    top = std::max(top, std::fabs(a));
  }
  const int e = top > 0.0 ? std::ilogb(top) : 0;
  return e > 900 || e < -900 ? e : 0;
}

// Equal x are one knot: the summed weight and sum w_i y_i / sum w_i (in the
// order given), the weights divided by 2^ew and y by 2^ey first. Leaves the
// weights in iw, unscaled but for that.
void MergeTies(std::span<const double> x, std::span<const double> y,
               std::span<const double> w, Knots &k) {
  size_t m = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    m += i == 0 || x[i] != x[i - 1] ? 1 : 0;
  }
  k.ew = SumExponent(w);
  k.ey = std::max(SumExponent(y), 0);
  Fresh(k.x, m);
  Fresh(k.y, m);
  Fresh(k.iw, m);
  for (size_t i = 0, t = 0; i < x.size(); ++t) {
    double weight = 0.0;
    double moment = 0.0;
    size_t j = i;
    for (; j < x.size() && x[j] == x[i]; ++j) {
      const double wj = w.empty() ? 1.0 : std::ldexp(w[j], -k.ew);
      weight += wj;
      moment += wj * std::ldexp(y[j], -k.ey);
    }
    k.x[t] = x[i];
    k.iw[t] = weight;
    k.y[t] = j - i == 1 ? std::ldexp(y[i], -k.ey) : moment / weight;
    i = j;
  }
}

// The exponent e of a power of two near v (v / 2^e in [1, 2) where 2^-e is
// a normal double), as the exact factor 2^-e.
int ExponentOf(double v) {
  return v > 0.0 ? std::clamp(std::ilogb(v), -1000, 1000) : 0;
}

void Scale(Knots &k) {
  const size_t m = k.x.size();
  double weight = 0.0;
  double top = 0.0;
  for (size_t i = 0; i < m; ++i) {
    weight += k.iw[i];
    top = std::max(top, std::fabs(k.y[i]));
  }
  k.ex = ExponentOf(k.x[m - 1] - k.x[0]) + 1; // range / 2^ex in [0.5, 1)
  const int ew = ExponentOf(weight / static_cast<double>(m));
  k.ew += ew;
  const int ey = ExponentOf(top);
  k.ey += ey;
  k.unit = std::ldexp(1.0, -k.ex);
  const double per_w = std::ldexp(1.0, -ew);
  const double per_y = std::ldexp(1.0, -ey);
  for (size_t i = 0; i < m; ++i) {
    k.y[i] *= per_y;
    k.iw[i] = 1.0 / (k.iw[i] * per_w);
  }
  k.range = (k.x[m - 1] - k.x[0]) * k.unit;
  k.weight = weight * per_w;
}

// The scatter of tied points about their knot's mean y, which every lambda's
// RSS over the points adds to the knots' own; with keep, what CV needs of
// each point too. Points alone at their x add nothing.
void Scatter(std::span<const double> x, std::span<const double> y,
             std::span<const double> w, bool keep, Knots &k) {
  k.n = x.size();
  const size_t m = k.x.size();
  if (k.n == m) {
    return;
  }
  if (keep) {
    Fresh(k.first, m + 1);
    Fresh(k.dy, k.n);
    Fresh(k.pw, k.n);
    Fresh(k.others, k.n);
  }
  auto weight = [&](size_t i) {
    return std::ldexp(w.empty() ? 1.0 : w[i], -k.ew);
  };
  for (size_t t = 0, i = 0; t < m; ++t) {
    size_t end = i;
    double total = 0.0;
    for (; end < k.n && x[end] == k.x[t]; ++end) {
      total += weight(end);
    }
    const bool alone = end - i == 1;
    if (keep) {
      k.first[t] = i;
    }
    for (; i < end; ++i) {
      const double wi = weight(i);
      const double dy = alone ? 0.0 : std::ldexp(y[i], -k.ey) - k.y[t];
      k.scatter += wi * dy * dy;
      if (keep) {
        k.dy[i] = dy;
        k.pw[i] = wi;
        k.others[i] = alone ? 0.0 : total - wi;
      }
    }
  }
  if (keep) {
    k.first[m] = k.n;
  }
}

// One side's knowledge of f and f' at a knot before its y is seen.
struct Prediction {
  double precision; // 1 / Var f; 0 while f is unknown
  double offset;    // E f - y_t
  double slope;     // E[f' | f = y_t]
  double gain;      // l: how E[f' | f] moves with f
  double spread;    // e: Var[f' | f]
};

// The filter over the knots from the left (or from the right, with x turned
// round, so that its slopes have the other sign). Next() gives the
// prediction at the next knot, then takes its y in.
template <bool kFromRight> class Filter {
public:
  Filter(const Knots &k, double lambda) : k_(k), lambda_(lambda) {}

  size_t knot() const { return kFromRight ? k_.x.size() - 1 - i_ : i_; }

  Prediction Next() {
    const size_t t = knot();
    const double y = k_.y[t];
    const double noise = lambda_ * k_.iw[t];
    if (i_ < 2) {
      return Start(t, y, noise);
    }
    ++i_;
    const double h = k_.Gap(kFromRight ? t : t - 1);
    const double h2 = h * h;
    const double h3 = h2 * h;
    const double g = 1.0 + h * gain_;
    const double g2 = 1.0 + h * gain_ / 2.0;
    const double vf = g * g * var_ + h2 * spread_ + h3 / 3.0;
    const double cov = g * gain_ * var_ + h * spread_ + h2 / 2.0;
    const double det = var_ * spread_ + var_ * h * g2 * g2 +
                       var_ * h3 * gain_ * gain_ / 12.0 + spread_ * h3 / 3.0 +
                       h2 * h2 / 12.0;
    // One division for both 1 / Var f and the share of y in the update.
    const double both = 1.0 / (vf * (vf + noise));
    const double inv = both * (vf + noise);
    // E[f' | f = y] = slope + l' (y - mean - h slope), with 1 - h l' =
    // (g var - h^3/6) / Var f formed directly.
    const Prediction p{inv, (mean_ - y) + h * slope_,
                       slope_ * ((g * var_ - h3 / 6.0) * inv) +
                           cov * inv * (y - mean_),
                       cov * inv, det * inv};
    const double share = noise * vf * both; // H / (Var f + H)
    const double shift = share * p.offset;  // the mean after y, less y
    mean_ = y + shift;
    slope_ = p.slope + p.gain * shift;
    var_ = vf * share;
    gain_ = p.gain;
    spread_ = p.spread;
    return p;
  }

private:
  // Nothing is known before the first point; after it the slope is not, and
  // across the first gap the slope given f is (f - y_0)/h, with variance
  // (H_0 + h^3/3)/h^2.
  Prediction Start(size_t t, double y, double noise) {
    if (i_++ == 0) {
      first_ = y;
      first_noise_ = noise;
      return {0.0, 0.0, 0.0, 0.0, 0.0};
    }
    const double h = k_.Gap(kFromRight ? t : t - 1);
    const Prediction p{0.0, 0.0, (y - first_) / h, 1.0 / h,
                       (first_noise_ + h * h * h / 3.0) / (h * h)};
    mean_ = y;
    slope_ = p.slope;
    var_ = noise;
    gain_ = p.gain;
    spread_ = p.spread;
    return p;
  }

  const Knots &k_;
  double lambda_;
  size_t i_ = 0;
  double first_ = 0.0, first_noise_ = 0.0;
  // After y at the last knot: f ~ N(mean, var), f' | f ~ N(slope + gain (f -
  // mean), spread).
  double mean_ = 0.0, slope_ = 0.0, var_ = 0.0, gain_ = 0.0, spread_ = 0.0;
};

// A sum of many terms with its rounding errors carried (Neumaier): tr A and
// n - tr A stay exact to a few units of their last place for any n.
struct Sum {
  double value = 0.0;
  double lost = 0.0;
  void Add(double v) {
    const double t = value + v;
    lost +=
        std::fabs(value) >= std::fabs(v) ? (value - t) + v : (v - t) + value;
    value = t;
  }
  double Total() const { return value + lost; }
};

// sum w_i r_i^2 and sum w_i, each w over 2^ew (as the merge takes them)
// and each r over 2^er, er the exponent of the largest |r| so far (the sum
// taken down exactly when it grows): the terms are at most 8, and residuals
// or weights whose squares or products would underflow, or whose sums would
// overflow, keep their digits. Powers of two aside, the sums are the plain
// ones, term for term.
class Squares {
public:
  explicit Squares(int ew) : ew_(ew) {}
  void Add(double w, double r) {
    const int e = r != 0.0 ? std::ilogb(r) : er_;
    if (e > er_) {
      sum_ = std::ldexp(sum_, 2 * (er_ - e));
      er_ = e;
    }
    const double wi = std::ldexp(w, -ew_);
    const double ri = std::ldexp(r, -er_);
    sum_ += wi * ri * ri;
    weight_ += wi;
  }
  double Rss() const { return std::ldexp(sum_, 2 * er_ + ew_); }
  double Rms() const { return std::ldexp(std::sqrt(sum_ / weight_), er_); }

private:
  int ew_;
  int er_ = -2200; // below every double's: a sum of zeros stays 0
  double sum_ = 0.0, weight_ = 0.0;
};

// What one lambda gives on the m distinct x (scaled units).
struct Score {
  double trace = 0.0;   // tr A
  double rest = 0.0;    // m - tr A, summed directly
  double rss = 0.0;     // sum W (mean y - f)^2 over the knots
  double rate = 0.0;    // sum 1 / (w V): d(m - tr A)/d lambda at lambda = 0
  double cv = 0.0;      // sum w ((y - f) / (1 - h))^2 over the points
  bool cv_none = false; // some h = 1
  double band = 0.0;    // the largest A_tt / W_t, on the curve's evaluation
  // n RSS / (n - tr A)^2 over the n points: n - tr A = (n - m) + (m - tr A),
  // RSS the knots' plus the scatter of ties. Without ties, extra and
  // scatter are 0 and this is m rss / rest^2 to the bit.
  double Gcv(double n, double extra, double scatter) const {
    const double left = extra + rest;
    return left > 0.0 ? n * (rss + scatter) / (left * left) : 0.0;
  }
};

// The evaluations of one data set. The two filters run at once, each over
// its half first (keeping its predictions), then over the other half, where
// it meets the other's: two independent chains of dependent operations,
// which the processor overlaps.
class Smoother {
public:
  Smoother(const Knots &k, bool cv) : k_(k), cv_(cv) {
    Fresh(kept_, k.x.size());
  }

  // f - y and f' at the knots (scaled), when wanted; A_tt when leverage
  // is not null.
  struct Curve {
    double *shifts;
    double *slopes;
    double *leverage;
  };

  Score At(double lambda, Curve curve = {nullptr, nullptr, nullptr}) {
    ++evaluations_;
    const size_t m = k_.x.size();
    const size_t half = m / 2;
    Filter<false> left(k_, lambda);
    Filter<true> right(k_, lambda);
    for (size_t i = 0; i < m - half; ++i) {
      if (i < half) {
        const size_t t = left.knot();
        kept_[t] = left.Next();
      }
      const size_t t = right.knot();
      kept_[t] = right.Next();
    }
    Meeting meet{lambda, cv_, curve, m - 1, &k_, {}, {}, {}};
    for (size_t i = 0; i < m - half; ++i) {
      if (i < half) {
        const size_t t = right.knot();
        meet.At(t, kept_[t], right.Next());
      }
      const size_t t = left.knot();
      meet.At(t, left.Next(), kept_[t]);
    }
    meet.score.trace = meet.trace.Total();
    meet.score.rest = meet.rest.Total();
    return meet.score;
  }
  int evaluations() const { return evaluations_; }

private:
  // Where the two sides meet at a knot: what is known of f(x_t) without y_t,
  // then with it.
  struct Meeting {
    double lambda;
    bool cv;
    Curve curve;
    size_t last;
    const Knots *k;
    Sum trace, rest;
    Score score;
    // Given every y but y_t, f(x_t) has precision P = P0 + turn^2 / E (the
    // two sides', and their slopes' agreement, E the sum of the slopes'
    // variances) and mean y_t + S / P. With y_t: A_tt = 1 / (1 + H P),
    // 1 - A_tt = H P A_tt, f(x_t) - y_t = H A_tt S; all over one division,
    // D = 1 / (E (1 + H P0) + H turn^2) = A_tt / E.
    void At(size_t t, const Prediction &l, const Prediction &r) {
      const double noise = lambda * k->iw[t];
      const double p0 = l.precision + r.precision;
      const double s0 = l.offset * l.precision + r.offset * r.precision;
      const bool inside = t > 0 && t < last;
      const double e = inside ? l.spread + r.spread : 1.0;
      const double turn = inside ? l.gain + r.gain : 0.0; // right's turned
      const double along = inside ? l.slope + r.slope : 0.0;
      const double d = 1.0 / (e * (1.0 + noise * p0) + noise * turn * turn);
      const double q = e * d;                         // A_tt
      const double qs = (e * s0 - turn * along) * d;  // A_tt S
      const double held = (p0 * e + turn * turn) * d; // P A_tt
      const double shift = noise * qs;                // f(x_t) - y_t
      trace.Add(q);
      rest.Add(noise * held);
      score.rss += shift * qs * lambda; // w (y - f)^2
      score.rate += held * k->iw[t];    // at lambda = 0, P / w
      if (cv) {
        AddCv(t, noise * held, shift, qs, held);
      }
      if (curve.shifts == nullptr) {
        return;
      }
      score.band = std::max(score.band, q * k->iw[t]);
      if (curve.leverage != nullptr) {
        curve.leverage[t] = q;
      }
      curve.shifts[t] = shift;
      // E[f' | f] from each side, at f = f(x_t), weighed by their variances.
      const double from_left = l.slope + l.gain * shift;
      const double from_right = -(r.slope + r.gain * shift);
      curve.slopes[t] =
          t == 0      ? from_right
          : t == last ? from_left
                      : (r.spread * from_left + l.spread * from_right) / e;
    }
    // Leaving point i at knot t out: its residual over 1 - h_i, h_i =
    // A_tt w_i / W_t. With W_t's other weights o_i, W_t (1 - h_i) = o_i +
    // (1 - A_tt) w_i, both terms positive. A point alone: (y - f) / (1 -
    // A_tt) = -H A_tt S / (H P A_tt) = -S / P, its own prediction's miss.
    void AddCv(size_t t, double loo, double shift, double qs, double held) {
      if (k->first.empty()) {
        if (loo == 0.0) {
          score.cv_none = true;
          return;
        }
        const double r = qs / held;
        score.cv += r * r / k->iw[t];
        return;
      }
      for (size_t i = k->first[t]; i < k->first[t + 1]; ++i) {
        const double keep = (k->others[i] + loo * k->pw[i]) * k->iw[t];
        if (keep == 0.0) {
          score.cv_none = true;
          continue;
        }
        const double r = (k->dy[i] - shift) / keep;
        score.cv += k->pw[i] * r * r;
      }
    }
  };

  const Knots &k_;
  bool cv_;
  WorkArray<Prediction> kept_;
  int evaluations_ = 0;
};

// 2^s from +, * and ldexp alone (Taylor series of e^u on [0, ln 2)), so that
// the lambdas tried are the same doubles whatever the platform's libm.
double Exp2(double s) {
  const double whole = std::floor(s);
  const double u = (s - whole) * 0.6931471805599453;
  double p = 1.0;
  for (int j = 17; j >= 1; --j) {
    p = 1.0 + p * u / j;
  }
  return std::ldexp(p, static_cast<int>(whole));
}

// lambda on the search's axis: low * 2^s.
struct Axis {
  double low;
  double At(double s) const { return low * Exp2(s); }
};

// Brent's minimiser (localmin, in Brent, Algorithms for Minimization
// without Derivatives, 1973) on [a, b] (values fa, fb), started from x with
// value fx: golden sections, and parabolas through the last three points
// where they fall inside. tol is absolute. Returns the best (s, value) seen
// once the bracket is narrower than 4 tol; or, once f at both ends of the
// bracket is within flat of the best (f's own rounding: its values there
// order nothing), the bracket's midpoint and the best value.
template <class F>
std::pair<double, double> Minimise(F &&f, double a, double b, double x,
                                   double fx, double fa, double fb, double tol,
                                   double flat) {
  constexpr double kGolden = 0.3819660112501051; // (3 - sqrt 5) / 2
  double v = x, w = x, fv = fx, fw = fx, d = 0.0, e = 0.0;
  for (;;) {
    const double mid = 0.5 * (a + b);
    if (std::max(fa, fb) - fx <= flat) {
      return {mid, fx};
    }
    if (std::fabs(x - mid) <= 2.0 * tol - 0.5 * (b - a)) {
      return {x, fx};
    }
    double p = 0.0, q = 0.0, r = 0.0;
    if (std::fabs(e) > tol) { // a parabola through x, w and v
      r = (x - w) * (fx - fv);
      q = (x - v) * (fx - fw);
      p = (x - v) * q - (x - w) * r;
      q = 2.0 * (q - r);
      if (q > 0.0) {
        p = -p;
      } else {
        q = -q;
      }
      r = e;
      e = d;
    }
    if (std::fabs(p) < std::fabs(0.5 * q * r) && p > q * (a - x) &&
        p < q * (b - x)) {
      d = p / q;
      if ((x + d) - a < 2.0 * tol || b - (x + d) < 2.0 * tol) {
        d = x < mid ? tol : -tol;
      }
    } else { // a golden-section step into the larger part
      e = (x < mid ? b : a) - x;
      d = kGolden * e;
    }
    const double u = x + (std::fabs(d) >= tol ? d : (d > 0.0 ? tol : -tol));
    const double fu = f(u);
    if (fu <= fx) {
      (u < x ? b : a) = x;
      (u < x ? fb : fa) = fx;
      v = w;
      fv = fw;
      w = x;
      fw = fx;
      x = u;
      fx = fu;
    } else {
      (u < x ? a : b) = u;
      (u < x ? fa : fb) = fu;
      if (fu <= fw || w == x) {
        v = w;
        fv = fw;
        w = u;
        fw = fu;
      } else if (fu <= fv || v == x || v == w) {
        v = u;
        fv = fu;
      }
    }
  }
}

// Lower bounds of GCV in the two tails of the useful range. With mu_k the
// eigenvalues of W^-1 K off the lines and z_k the data's components,
//   GCV(lambda) = n sum (a_k z_k)^2 / (sum a_k)^2,  a_k = mu_k / (1 + lambda
//   mu_k)
//              = n sum (b_k z_k)^2 / (sum b_k)^2,  b_k = lambda a_k,
// so GCV(lambda) >= GCV(0) / (1 + lambda mu_max)^2, and, b_k being at most 1
// and at least b(mu_min), GCV(lambda) >= GCV(inf) b(mu_min)^2; the same bounds
// tie GCV(0) and GCV(inf) to GCV at the range's ends. mu_max <= rate (tr
// W^-1 K) and mu_min >= least, 1 / (L^3 sum w).
struct Tails {
  double rate, least;
  double low_end, high_end; // GCV at the two ends of the axis
  double low, high;         // lambda there
  static double Square(double v) { return v * v; }
  static double Share(double l, double mu) { return l * mu / (1.0 + l * mu); }
  double Below(double lambda) const {
    return std::max(
        low_end / Square((1.0 + low * rate) * (1.0 + lambda * rate)),
        high_end * Square(Share(high, least) * Share(lambda, least)));
  }
};

// With ties (n - m = e > 0 points beyond the first at their x, scatter C),
//   GCV(lambda) = n (sum (b_k z_k)^2 + C) / (e + sum b_k)^2
// no longer depends on the b_k's scale alone; its bounds come from the ends
// evaluated. Above lambda_0 (RSS_0, rest_0 = sum b_k there): RSS does not
// fall and b_k(lambda) <= b_k(lambda_0) lambda / lambda_0, so GCV >= n
// RSS_0 / (e + min(rest_0 lambda / lambda_0, n - 2))^2 (sum b_k being at
// most m - 2, and so below n - 2). Below lambda_1:
// b_k(lambda) >= b(mu_min) >= b(mu_min) b_k(lambda_1), and sum b_k does not
// grow, so GCV >= n (b(mu_min)^2 rss_1 + C) / (e + rest_1)^2.
struct TiedTails {
  double n, extra, scatter, most, least;
  double low, rss_low, rest_low;    // lambda_0 and its figures
  double high, rss_high, rest_high; // lambda_1 and its
  double Below(double lambda) const {
    const double grown = std::min(rest_low * (lambda / low), most);
    const double share = Tails::Share(lambda, least);
    return std::max(n * (rss_low + scatter) / Tails::Square(extra + grown),
                    n * (share * share * rss_high + scatter) /
                        Tails::Square(extra + rest_high));
  }
};

// What the search minimises, GCV or CV (scaled), from one lambda's Score,
// and a floor under it at every larger lambda from the RSS there (which
// never falls as lambda grows): GCV >= n RSS / (n - 2)^2, n - tr A being at
// most n - 2; CV >= RSS / sum w, each 1 / (1 - h)^2 being at least 1.
struct Criterion {
  bool cv;
  double n, extra, scatter, weight;
  double Value(const Score &s) const {
    if (cv) {
      return s.cv_none ? std::numeric_limits<double>::infinity()
                       : s.cv / weight;
    }
    return s.Gcv(n, extra, scatter);
  }
  double Floor(const Score &s) const {
    if (cv) {
      return (s.rss + scatter) / weight;
    }
    const double most = n - 2.0;
    return n * (s.rss + scatter) / (most * most);
  }
};

// The local minima among the points of the axis evaluated (value >= 0), best
// first (the lowest s of equal ones), with their evaluated neighbours (the
// point itself at an end).
struct Dip {
  double value;
  int at, below, above;
};
std::vector<Dip> Dips(const Values &seen) {
  std::vector<Dip> dips;
  const int last = static_cast<int>(seen.size()) - 1;
  auto at = [&](int j) { return seen[static_cast<size_t>(j)]; };
  int before = -1;
  for (int j = 0; j <= last; ++j) {
    if (at(j) < 0.0) {
      continue;
    }
    int after = j + 1;
    while (after <= last && at(after) < 0.0) {
      ++after;
    }
    if ((before < 0 || at(j) < at(before)) &&
        (after > last || at(j) <= at(after))) {
      dips.push_back(
          {at(j), j, before < 0 ? j : before, after > last ? j : after});
    }
    before = j;
  }
  std::stable_sort(dips.begin(), dips.end(), [](const Dip &p, const Dip &q) {
    return p.value < q.value;
  });
  return dips;
}

// The lambda (on the axis) minimising GCV or CV. A scan in steps of
// kCoarse, from the middle of the range outwards, skipping points whose
// lower bound is no better than the best value seen: the tails' bounds (for
// GCV; none for CV), and above a point evaluated the criterion's floor with
// its RSS, which on many points ends the scan a few steps past the minimum;
// then a scan in steps of 1 around the best kDips coarse minima within
// kNear of the best, or whose parabola through their neighbours dips that
// low (GCV can have close minima of nearly equal depth, and basins a few
// steps wide); then Brent's method between the neighbours of the best kDips
// local minima, unless the criterion is flat there to 1e-9 (with 3 distinct
// x GCV is constant).
double Minimum(Smoother &smoother, const Axis &axis, double end,
               const Criterion &crit, size_t m, double rate, double least) {
  auto gcv = [&](double s) { return crit.Value(smoother.At(axis.At(s))); };
  const int last = static_cast<int>(std::ceil(end));
  Values seen(static_cast<size_t>(last) + 1, -1.0); // -1: not evaluated
  auto at = [&](int j) -> double & { return seen[static_cast<size_t>(j)]; };
  std::vector<int> coarse;
  for (int j = 0; j < last; j += kCoarse) {
    coarse.push_back(j);
  }
  coarse.push_back(last);
  Values floors(coarse.size(), 0.0); // the criterion's floor where evaluated
  auto evaluate = [&](size_t c) {
    const Score score = smoother.At(axis.At(coarse[c]));
    at(coarse[c]) = crit.Value(score);
    floors[c] = crit.Floor(score);
    return score;
  };
  const Score first = evaluate(0);
  const Score final = evaluate(coarse.size() - 1);
  const Tails tails{rate, least, at(0), at(last), axis.At(0), axis.At(last)};
  const TiedTails tied{crit.n,        crit.extra, crit.scatter, crit.n - 2.0,
                       least,         axis.At(0), first.rss,    first.rest,
                       axis.At(last), final.rss,  final.rest};
  auto below = [&](size_t c) { // the criterion at coarse[c] is at least this
    const double lambda = axis.At(coarse[c]);
    const double bound = crit.cv            ? 0.0
                         : crit.extra > 0.0 ? tied.Below(lambda)
                                            : tails.Below(lambda);
    for (size_t j = c; j-- > 0;) {
      if (at(coarse[j]) >= 0.0) {
        return std::max(bound, floors[j]);
      }
    }
    return bound;
  };
  double best = std::min(at(0), at(last));
  const size_t middle = coarse.size() / 2;
  for (size_t d = 0; d <= middle; ++d) {
    for (const size_t c : {middle - d, middle + d + 1}) {
      if (c < coarse.size() && at(coarse[c]) < 0.0 &&
          below(c) * (1.0 - 1e-9) < best) {
        evaluate(c);
        best = std::min(best, at(coarse[c]));
      }
    }
  }
  const double near = (1.0 + kNear) * best;
  size_t scanned = 0;
  for (const Dip &d : Dips(seen)) {
    const double a = at(d.below), b = d.value, c = at(d.above);
    const double bend = a - 2.0 * b + c;
    if (scanned < kDips &&
        (b <= near ||
         (bend > 0.0 && b - (c - a) * (c - a) / (8.0 * bend) <= near))) {
      ++scanned;
      for (int i = std::max(0, d.at - kCoarse + 1);
           i < std::min(last, d.at + kCoarse); ++i) {
        at(i) = at(i) < 0.0 ? gcv(i) : at(i);
      }
    }
  }
  // The criterion's own rounding, relative: its sums add m terms, each
  // right to a few units in the last place, with independent errors: some
  // sqrt(m) units.
  const double rounding = std::sqrt(static_cast<double>(m)) * 0x1p-52;
  const std::vector<Dip> dips = Dips(seen);
  double best_s = dips.front().at;
  best = dips.front().value;
  for (size_t i = 0; i < dips.size() && i < kDips; ++i) {
    const Dip &d = dips[i];
    const double rise = std::max(d.below == d.at ? 0.0 : at(d.below) - d.value,
                                 d.above == d.at ? 0.0 : at(d.above) - d.value);
    if (d.value > (1.0 + kNear) * dips.front().value) {
      break;
    }
    if (rise <= 1e-9 * d.value) {
      continue;
    }
    const auto [s, found] =
        Minimise(gcv, d.below, d.above, d.at, d.value, at(d.below), at(d.above),
                 kMinimumTolerance, rounding * d.value);
    if (found < best) {
      best = found;
      best_s = s;
    }
  }
  return best_s;
}

// The s with tr A = K: a bracket, widened as needed (tr A falls from n to 2
// as lambda grows), then regula falsi (Illinois) with a bisection every
// eighth step, to 1e-11 in tr A. Near n, n - tr A is compared with n - K:
// there it is the one of the two summed exactly.
double DegreesOfFreedom(Smoother &smoother, const Axis &axis, double end,
                        double k, size_t m, std::string &problem) {
  const double n = static_cast<double>(m);
  const bool near_n = k > n / 2.0;
  auto miss = [&](double s) { // decreasing in s; 0 at the answer
    const Score sc = smoother.At(axis.At(s));
    return near_n ? (n - k) - sc.rest : sc.trace - k;
  };
  double a = 0.0, b = end;
  double fa = miss(a), fb = miss(b);
  for (int i = 0; fa < 0.0 && i < 64; ++i) {
    b = a;
    fb = fa;
    a -= 16.0;
    fa = miss(a);
  }
  while (fb > 0.0 && axis.At(b + 16.0) <= kLargest) {
    a = b;
    fa = fb;
    b += 16.0;
    fb = miss(b);
  }
  if (fa < 0.0 || fb > 0.0) {
    problem = "smooth df " + ShortNumber(k) + " needs a lambda out of range";
    return 0.0;
  }
  int replaced = 0; // the end replaced last time: 1 a, -1 b
  for (int i = 0; i < 200 && fa != 0.0 && fb != 0.0; ++i) {
    double s = a + (b - a) * (fa / (fa - fb));
    if (!(s > a && s < b) || i % 8 == 7) {
      s = 0.5 * (a + b);
    }
    const double fs = miss(s);
    if (std::fabs(fs) <= 1e-11 || b - a <= 1e-13 * (1.0 + std::fabs(s))) {
      return s;
    }
    if (fs > 0.0) {
      a = s;
      fa = fs;
      if (replaced == 1) {
        fb /= 2.0;
      }
      replaced = 1;
    } else {
      b = s;
      fb = fs;
      if (replaced == -1) {
        fa /= 2.0;
      }
      replaced = -1;
    }
  }
  return fa == 0.0 ? a : (fb == 0.0 ? b : 0.5 * (a + b));
}

std::string InputProblem(std::span<const double> x, std::span<const double> y,
                         std::span<const double> w, const Smoothing &how) {
  if (y.size() != x.size() || (!w.empty() && w.size() != x.size())) {
    return "smooth needs as many y and weights as x (" +
           std::to_string(x.size()) + " x, " + std::to_string(y.size()) +
           " y, " + std::to_string(w.size()) + " weights)";
  }
  for (size_t i = 0; i < x.size(); ++i) {
    if (!std::isfinite(x[i]) || !std::isfinite(y[i])) {
      return "smooth needs finite x and y (point " + std::to_string(i) + ")";
    }
    if (i > 0 && x[i] < x[i - 1]) {
      return "smooth needs x in non-decreasing order (point " +
             std::to_string(i) + ")";
    }
    if (!w.empty() && !(w[i] > 0.0 && std::isfinite(w[i]))) {
      return "smooth weight " + ShortNumber(w[i]) + " of point " +
             std::to_string(i) + " is not finite and positive";
    }
  }
  if (how.rule == Smoothing::Rule::kLambda &&
      !(how.value >= 0.0 && std::isfinite(how.value))) {
    return "smooth lambda " + ShortNumber(how.value) +
           " is not finite and non-negative";
  }
  return {};
}

// What the scaled knots need so that no product in the filters overflows
// or underflows to a division by 0 (with lambda at most kLargest): an x
// range that is a double, every gap at least 2^-100 of it, and weights
// within a factor 2^100 of each other.
std::string KnotsProblem(const Knots &k) {
  const size_t m = k.x.size();
  if (m < 3) {
    return "smooth needs at least 3 distinct x (" + std::to_string(m) +
           " given)";
  }
  if (m > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    return "smooth takes at most 2147483647 distinct x";
  }
  if (!std::isfinite(k.x[m - 1] - k.x[0])) {
    return "smooth needs an x range that a double holds (x " +
           ShortNumber(k.x[0]) + " to " + ShortNumber(k.x[m - 1]) +
           " overflows)";
  }
  for (size_t i = 0; i + 1 < m; ++i) {
    if (k.Gap(i) < 0x1p-100 * k.range) {
      return "smooth needs every x gap at least 2^-100 of the x range (x " +
             ShortNumber(k.x[i]) + " and " + ShortNumber(k.x[i + 1]) + ")";
    }
  }
  const auto [low, high] = std::minmax_element(k.iw.begin(), k.iw.end());
  if (*high > 0x1p100 * *low) {
    return "smooth needs weights within a factor 2^100 of each other";
  }
  return {};
}

} // namespace

std::string FitSmoothingSpline(std::span<const double> x,
                               std::span<const double> y,
                               std::span<const double> w, const Smoothing &how,
                               SmoothingFit &out) {
  if (std::string problem = InputProblem(x, y, w, how); !problem.empty()) {
    return problem;
  }
  Knots k;
  MergeTies(x, y, w, k);
  if (k.x.size() >= 2) {
    Scale(k);
  }
  if (std::string problem = KnotsProblem(k); !problem.empty()) {
    return problem;
  }
  const size_t m = k.x.size();
  const double n = static_cast<double>(m);
  if (how.rule == Smoothing::Rule::kDegreesOfFreedom &&
      !(how.value > 2.0 && how.value <= n)) {
    return "smooth df " + ShortNumber(how.value) +
           " is not above 2 and at most the number of distinct x, " +
           std::to_string(m);
  }
  const bool cv = how.rule == Smoothing::Rule::kCv;
  Scatter(x, y, w, cv, k);
  const Criterion crit{cv, static_cast<double>(k.n),
                       static_cast<double>(k.n - m), k.scatter, k.weight};
  const int unit = 3 * k.ex + k.ew; // lambda = lambda' * 2^unit
  Smoother smoother(k, cv);
  double lambda = 0.0; // scaled
  out.lambda_low = 0.0;
  out.lambda_high = 0.0;
  if (how.rule == Smoothing::Rule::kLambda) {
    lambda = std::min(std::ldexp(how.value, -unit), kLargest);
  } else if (how.rule != Smoothing::Rule::kDegreesOfFreedom || how.value < n) {
    // The useful range. Near 0, GCV(lambda) / GCV(0) is within
    // (1 + lambda mu_max)^(+-2) of 1, mu_max the largest eigenvalue of
    // W^-1 K (K the penalty on the values), and mu_max <= tr W^-1 K, the rate
    // at which n - tr A leaves 0. For large lambda every eigenvalue but the
    // line's two zeros is at least 1 / (L^3 sum w) (L the x range: a function
    // W-orthogonal to lines has two zeros, so |f| <= L^1.5 ||f''||), which
    // bounds GCV's distance from its limit by 4 L^3 sum w / lambda.
    const double rate = smoother.At(0.0).rate;
    const Axis axis{kDelta / (2.0 * rate)};
    const double high = 4.0 * k.range * k.range * k.range * k.weight / kDelta;
    const double end = std::ilogb(high / axis.low) + 1.0;
    if (how.rule != Smoothing::Rule::kDegreesOfFreedom) {
      lambda = axis.At(Minimum(smoother, axis, end, crit, m, rate,
                               1.0 / (k.range * k.range * k.range * k.weight)));
    } else {
      std::string problem;
      const double s =
          DegreesOfFreedom(smoother, axis, end, how.value, m, problem);
      if (!problem.empty()) {
        return problem;
      }
      lambda = axis.At(s);
    }
    out.lambda_low = std::ldexp(axis.low, unit);
    out.lambda_high = std::ldexp(high, unit);
  }
  Fresh(out.y, m);
  Fresh(out.a, m);
  Fresh(out.b, m);
  Fresh(out.c, m);
  // f - y at knot j waits in b[j] (scaled) until segment j is made.
  WorkArray<double> leverage;
  if (how.details) {
    Fresh(leverage, m);
  }
  const Score score =
      smoother.At(lambda, {out.b.data(), out.a.data(),
                           how.details ? leverage.data() : nullptr});
  out.evaluations = smoother.evaluations();
  out.lambda = how.rule == Smoothing::Rule::kLambda ? how.value
                                                    : std::ldexp(lambda, unit);
  out.df = score.trace;
  // Back to the caller's units: f by 2^ey, f' by 2^(ey - ex), GCV by
  // 2^(2 ey + ew).
  const double per_y = std::ldexp(1.0, k.ey);
  const double per_x = std::ldexp(1.0, -k.ex);
  out.gcv =
      std::ldexp(score.Gcv(crit.n, crit.extra, crit.scatter), 2 * k.ey + k.ew);
  out.cv = cv;
  out.score.reset();
  if (!cv) {
    out.score = out.gcv;
  } else if (!score.cv_none) {
    out.score = std::ldexp(score.cv / k.weight, 2 * k.ey);
  }
  out.variance.clear();
  out.residuals.clear();
  out.leverage.clear();
  if (how.details) {
    out.variance.resize(m);
    out.residuals.resize(x.size());
    out.leverage.resize(x.size());
    for (size_t j = 0; j < m; ++j) {
      out.variance[j] = std::ldexp(leverage[j] * k.iw[j], -k.ew);
    }
  }
  out.x = std::move(k.x);
  // One pass over the knots: each one's value and slope back in the
  // caller's units, the segment that ends there (as every fit ends in
  // Hermite's, hermite.h, which the program rebuilds from the slopes), and
  // the residuals of its points as given: y - f is the knot's own, less the
  // point's distance from the knot's mean y (0 but for ties), never a
  // difference of two nearly equal numbers.
  out.max_residual = 0.0;
  out.max_residual_x = x[0];
  Squares squares(SumExponent(w));
  for (size_t j = 0, i = 0; j < m; ++j) {
    const double shift = out.b[j] * per_y;
    const double mean = k.y[j] * per_y;
    out.y[j] = mean + shift;
    out.a[j] = out.a[j] * per_y * per_x;
    if (j > 0) {
      const SegmentCoefficients seg =
          Hermite(out.x[j - 1], out.x[j], out.y[j - 1], out.y[j], out.a[j - 1],
                  out.a[j]);
      out.b[j - 1] = seg.b;
      out.c[j - 1] = seg.c;
    }
    for (; i < x.size() && x[i] == out.x[j]; ++i) {
      const double r = (y[i] - mean) - shift;
      if (how.details) {
        out.residuals[i] = r;
        out.leverage[i] =
            leverage[j] * (std::ldexp(w.empty() ? 1.0 : w[i], -k.ew) * k.iw[j]);
      }
      squares.Add(w.empty() ? 1.0 : w[i], r);
      if (std::fabs(r) > out.max_residual) {
        out.max_residual = std::fabs(r);
        out.max_residual_x = x[i];
      }
    }
  }
  out.b[m - 1] = 0.0;
  out.c[m - 1] = 0.0;
  out.rss = squares.Rss();
  out.rms = squares.Rms();
  // sigma^2 = RSS / (n - tr A); the band's half width at the knot where
  // A_tt / W_t is largest, z = the normal's 0.975 quantile.
  const double left = crit.extra + score.rest;
  out.sigma.reset();
  out.band_max.reset();
  if (left > 0.0) {
    out.sigma = std::sqrt(out.rss / left);
    out.band_max = 2.0 * 1.959963984540054 * *out.sigma *
                   std::sqrt(std::ldexp(score.band, -k.ew));
  }
  return {};
}

} // namespace knotfit
