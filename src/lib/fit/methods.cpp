// The interpolation methods, and the table that names them.
//
// Each method but not-a-knot chooses one slope per knot; the segment between
// two knots is then the cubic Hermite polynomial with the knots' values and
// slopes at its ends (HermiteCoefficients), so every fit is C1 and lands in the
// same SplineTable form. Short and special data are treated as SciPy 1.10
// treats them wherever it defines the method for them; MethodProblem names the
// rest.
//
// As in not_a_knot.h, every formula is evaluated in IEEE double, one rounding
// per operation, in the grouping written: fits are reproducible bit for bit.
// Where a reference computes a slope in a particular grouping, it is kept.
#include "methods.h"

#include "../text/names.h"
#include "../text/short_numbers.h"
#include "../text/strtod_c.h"
#include "hermite.h"
#include "knotfit.h"
#include "smoothing_spline.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>
#include <vector>

namespace knotfit {
namespace {

using Values = std::vector<double>;

// Segment i, from x[i] to x[i+1] (i = 0 .. n-2): its width h[i] and the slope
// s[i] of its secant.
struct Secants {
  Values h, s;
};

Secants SecantsOf(int32_t n, const double *x, const double *y) {
  Secants sec{Values(static_cast<size_t>(n - 1)),
              Values(static_cast<size_t>(n - 1))};
  for (size_t i = 0; i + 1 < static_cast<size_t>(n); ++i) {
    sec.h[i] = x[i + 1] - x[i];
    sec.s[i] = (y[i + 1] - y[i]) / sec.h[i];
  }
  return sec;
}

// -1, 0 or 1, with 0 for both zeros (as NumPy's sign, which the references'
// sign tests use).
double Sign(double v) {
  return v > 0.0 ? 1.0 : (v < 0.0 ? -1.0 : 0.0);
}

// Two points leave no choice but the straight line: both slopes the secant.
void LineSlopes(const Secants &sec, double *a) {
  a[0] = sec.s[0];
  a[1] = sec.s[0];
}

// The cubic on each segment from its end values and the slopes a, exactly as
// the not-a-knot back substitution forms it (hermite.h).
void HermiteCoefficients(int32_t n, const double *x, const double *y,
                         const double *a, double *b, double *c) {
  for (int32_t i = 0; i + 1 < n; ++i) {
    const SegmentCoefficients seg =
        Hermite(x[i], x[i + 1], y[i], y[i + 1], a[i], a[i + 1]);
    b[i] = seg.b;
    c[i] = seg.c;
  }
  b[n - 1] = 0.0;
  c[n - 1] = 0.0;
}

// Row i of a tridiagonal system:
//   lower[i]*u[i-1] + diag[i]*u[i] + upper[i]*u[i+1] = rhs[i].
struct Tridiagonal {
  Values lower, diag, upper;
  explicit Tridiagonal(size_t m) : lower(m), diag(m), upper(m) {}
};

// Gaussian elimination without pivoting, then back substitution. Every
// system here is strictly diagonally dominant, which makes that stable.
Values Solve(const Tridiagonal &t, Values rhs) {
  const size_t m = rhs.size();
  Values d = t.diag;
  for (size_t i = 1; i < m; ++i) {
    const double f = t.lower[i] / d[i - 1];
    d[i] = d[i] - f * t.upper[i - 1];
    rhs[i] = rhs[i] - f * rhs[i - 1];
  }
  rhs[m - 1] = rhs[m - 1] / d[m - 1];
  for (size_t i = m - 1; i-- > 0;) {
    rhs[i] = (rhs[i] - t.upper[i] * rhs[i + 1]) / d[i];
  }
  return rhs;
}

// Continuity of S'' at interior knot i, from the segments left (h[i-1],
// s[i-1]) and right (h[i], s[i]) of it, as a row in the slopes:
//   h[i]*a[i-1] + 2*(h[i-1] + h[i])*a[i] + h[i-1]*a[i+1]
//     = 3*(h[i]*s[i-1] + h[i-1]*s[i]).
void SetContinuityRow(const Secants &sec, size_t i, Tridiagonal &t,
                      Values &rhs) {
  t.lower[i] = sec.h[i];
  t.diag[i] = 2.0 * (sec.h[i - 1] + sec.h[i]);
  t.upper[i] = sec.h[i - 1];
  rhs[i] = 3.0 * (sec.h[i] * sec.s[i - 1] + sec.h[i - 1] * sec.s[i]);
}

// One end condition of a C2 spline, a row in the end slope and its
// neighbour's: diag*a[end] + neighbour*a[next] = rhs.
struct EndRow {
  double diag, neighbour, rhs;
};

// The standard C2 cubic spline: S'' continuous at every interior knot, one
// condition at each end (de Boor, A Practical Guide to Splines, ch. IV).
void C2SplineSlopes(const Secants &sec, EndRow first, EndRow last, double *a) {
  const size_t m = sec.h.size() + 1;
  Tridiagonal t(m);
  Values rhs(m);
  t.diag[0] = first.diag;
  t.upper[0] = first.neighbour;
  rhs[0] = first.rhs;
  for (size_t i = 1; i + 1 < m; ++i) {
    SetContinuityRow(sec, i, t, rhs);
  }
  t.lower[m - 1] = last.neighbour;
  t.diag[m - 1] = last.diag;
  rhs[m - 1] = last.rhs;
  std::copy_n(Solve(t, std::move(rhs)).begin(), m, a);
}

// Natural spline, S'' = 0 at both ends. At x[0], 2*b[0] = 0 reads
// 2*a[0] + a[1] = 3*s[0]; at x[n-1] the last segment's 2*b + 6*c*h = 0
// reads a[n-2] + 2*a[n-1] = 3*s[n-2].
void NaturalSlopes(const Secants &sec, const MethodChoice & /*choice*/,
                   double *a) {
  C2SplineSlopes(sec, {2.0, 1.0, 3.0 * sec.s.front()},
                 {2.0, 1.0, 3.0 * sec.s.back()}, a);
}

// Clamped spline: the end slopes are given, S'(x[0]) = d0, S'(x[n-1]) = dn.
void ClampedSlopes(const Secants &sec, const MethodChoice &choice, double *a) {
  C2SplineSlopes(sec, {1.0, 0.0, choice.start_slope},
                 {1.0, 0.0, choice.end_slope}, a);
}

// Periodic spline: S, S' and S'' match at the two ends, so x[0] is one more
// interior knot whose left segment is the last one, and a[n-1] = a[0]. The
// n-1 slopes a[0..n-2] solve a cyclic tridiagonal system; as SciPy's
// CubicSpline does, the coupling through a[n-2] is split off: the n-2 rows of
// a[0..n-3] are solved for the right-hand side (u) and for a unit a[n-2] (v),
// and the last row then gives a[n-2]. Two points give the (constant) line,
// three all-equal slopes, as SciPy 1.10.
void PeriodicSlopes(const Secants &sec, const MethodChoice & /*choice*/,
                    double *a) {
  const Values &h = sec.h;
  const Values &s = sec.s;
  const size_t segments = h.size();
  if (segments == 1) {
    LineSlopes(sec, a);
    return;
  }
  if (segments == 2) {
    // Both rows reduce to a[0] = a[1], then to this secant mean.
    const double mean = (s[0] / h[0] + s[1] / h[1]) / (1.0 / h[0] + 1.0 / h[1]);
    std::fill_n(a, 3, mean);
    return;
  }
  const size_t m = segments - 1; // rows of a[0] .. a[n-3]
  const double h_last = h[segments - 1];
  Tridiagonal t(m);
  Values rhs(m);
  t.diag[0] = 2.0 * (h_last + h[0]);
  t.upper[0] = h_last;
  rhs[0] = 3.0 * (h[0] * s[segments - 1] + h_last * s[0]);
  for (size_t i = 1; i < m; ++i) {
    SetContinuityRow(sec, i, t, rhs);
  }
  // a[n-2] enters row 0 (as its left neighbour) and row n-3.
  Values unit(m, 0.0);
  unit[0] = -h[0];
  unit[m - 1] = -h[m - 2];
  const Values u = Solve(t, std::move(rhs));
  const Values v = Solve(t, std::move(unit));
  // Row n-2: h_last*a[n-3] + 2*(h[n-3] + h_last)*a[n-2] + h[n-3]*a[0] = r.
  const double h_before = h[m - 1];
  const double r = 3.0 * (h_last * s[m - 1] + h_before * s[m]);
  const double a_last =
      ((r - h_before * u[0]) - h_last * u[m - 1]) /
      ((2.0 * (h_last + h_before) + h_before * v[0]) + h_last * v[m - 1]);
  for (size_t i = 0; i < m; ++i) {
    a[i] = u[i] + a_last * v[i];
  }
  a[m] = a_last;
  a[m + 1] = a[0];
}

// The one-sided end slope of pchip: the derivative of the parabola through
// the first three points (h0, m0 the end segment, h1, m1 the next), set to
// 0 where its sign differs from m0's and limited to 3*m0 where the data turn
// (Moler, Numerical Computing with MATLAB, 3.6; SciPy's _edge_case).
double PchipEnd(double h0, double h1, double m0, double m1) {
  const double d = ((2.0 * h0 + h1) * m0 - h0 * m1) / (h0 + h1);
  if (Sign(d) != Sign(m0)) {
    return 0.0;
  }
  if (Sign(m0) != Sign(m1) && std::fabs(d) > 3.0 * std::fabs(m0)) {
    return 3.0 * m0;
  }
  return d;
}

// Monotone piecewise cubic Hermite interpolation (Fritsch and Butland, SIAM
// J. Sci. Stat. Comput. 5 (1984) 300-304), as SciPy's PchipInterpolator
// computes it: 0 at a local extremum or next to a flat segment, otherwise the
// weighted harmonic mean of the two secants,
//   (w1 + w2) / a[i] = w1 / s[i-1] + w2 / s[i],
//   w1 = 2*h[i] + h[i-1], w2 = h[i] + 2*h[i-1].
double PchipInterior(double h0, double h1, double s0, double s1) {
  if (Sign(s0) != Sign(s1) || s0 == 0.0 || s1 == 0.0) {
    return 0.0;
  }
  const double w1 = 2.0 * h1 + h0;
  const double w2 = h1 + 2.0 * h0;
  return 1.0 / ((w1 / s0 + w2 / s1) / (w1 + w2));
}

// The slopes of pchip and steffen: each interior knot's from the segments
// on either side of it (h0, s0 before, h1, s1 after), each end's from its
// segment and the next. Two points leave the line.
using KnotSlope = double (*)(double h0, double h1, double s0, double s1);
template <KnotSlope interior, KnotSlope end>
void LocalSlopes(const Secants &sec, const MethodChoice & /*choice*/,
                 double *a) {
  const Values &h = sec.h;
  const Values &s = sec.s;
  const size_t n = h.size() + 1;
  if (n == 2) {
    LineSlopes(sec, a);
    return;
  }
  for (size_t i = 1; i + 1 < n; ++i) {
    a[i] = interior(h[i - 1], h[i], s[i - 1], s[i]);
  }
  a[0] = end(h[0], h[1], s[0], s[1]);
  a[n - 1] = end(h[n - 2], h[n - 3], s[n - 2], s[n - 3]);
}

// Akima's secants m[0 .. n+2]: m[2 .. n] are the data's (m[i+2] = s[i]), and
// two more at each end continue them linearly, m[1] = 2*m[2] - m[3] and so on
// (Akima 1970's estimate of the data beyond the ends).
Values AkimaSecants(const Secants &sec) {
  const size_t n = sec.s.size() + 1;
  Values m(n + 3);
  std::copy(sec.s.begin(), sec.s.end(), m.begin() + 2);
  m[1] = 2.0 * m[2] - m[3];
  m[0] = 2.0 * m[1] - m[2];
  m[n + 1] = 2.0 * m[n] - m[n - 1];
  m[n + 2] = 2.0 * m[n + 1] - m[n];
  return m;
}

// Akima 1970 (J. ACM 17, 589-602): knot i's slope weighs the two secants
// beside it, m[i+1] and m[i+2], each by how much the secants on the far side
// differ,
//   a[i] = (f1*m[i+1] + f2*m[i+2]) / (f1 + f2),
//   f1 = |m[i+3] - m[i+2]|, f2 = |m[i+1] - m[i]|.
// Where f1 + f2 is at most 1e-9 of its largest value over the data set the
// slope is undefined and SciPy's Akima1DInterpolator (1.10) takes
// (m[i] + m[i+3]) / 2; so does this. Needs 3 points.
void AkimaSlopes(const Secants &sec, const MethodChoice & /*choice*/,
                 double *a) {
  const size_t n = sec.s.size() + 1;
  const Values m = AkimaSecants(sec);
  Values f1(n);
  Values f2(n);
  double largest = 0.0;
  for (size_t i = 0; i < n; ++i) {
    f1[i] = std::fabs(m[i + 3] - m[i + 2]);
    f2[i] = std::fabs(m[i + 1] - m[i]);
    largest = std::max(largest, f1[i] + f2[i]);
  }
  for (size_t i = 0; i < n; ++i) {
    const double f12 = f1[i] + f2[i];
    a[i] = f12 > 1e-9 * largest ? (f1[i] * m[i + 1] + f2[i] * m[i + 2]) / f12
                                : 0.5 * (m[i + 3] + m[i]);
  }
}

// Modified Akima, "makima" (Moler, Makima Piecewise Cubic Interpolation,
// 2019; MATLAB's makima, SciPy >= 1.13's Akima1DInterpolator(method="makima")):
// Akima's slope with weights that also count how far the pair of secants is
// from zero,
//   f1 = |m[i+3] - m[i+2]| + |m[i+3] + m[i+2]| / 2,
//   f2 = |m[i+1] - m[i]| + |m[i+1] + m[i]| / 2,
// so two equal secants no longer outweigh the rest, and a knot between flat
// segments gets slope 0. f1 + f2 is 0 only when all four secants are, and
// the slope is then 0: no cut-off relative to the data set's largest weight,
// which could tilt a flat run between tiny steps. Needs 3 points.
void MakimaSlopes(const Secants &sec, const MethodChoice & /*choice*/,
                  double *a) {
  const size_t n = sec.s.size() + 1;
  const Values m = AkimaSecants(sec);
  for (size_t i = 0; i < n; ++i) {
    const double f1 =
        std::fabs(m[i + 3] - m[i + 2]) + 0.5 * std::fabs(m[i + 3] + m[i + 2]);
    const double f2 =
        std::fabs(m[i + 1] - m[i]) + 0.5 * std::fabs(m[i + 1] + m[i]);
    const double f12 = f1 + f2;
    a[i] = f12 > 0.0 ? (f1 * m[i + 1] + f2 * m[i + 2]) / f12 : 0.0;
  }
}

// Steffen's end slope (A&A 239 (1990) 443-450, on the boundary points): the
// parabola's through the first three points, p = ((2*h0 + h1)*s0 - h0*s1) / (h0
// + h1), set to 0 unless p and s0 share a sign and capped at 2*s0.
double SteffenEnd(double h0, double h1, double s0, double s1) {
  const double p = ((2.0 * h0 + h1) * s0 - h0 * s1) / (h0 + h1);
  if (Sign(p) * Sign(s0) <= 0.0) {
    return 0.0;
  }
  return std::fabs(p) > 2.0 * std::fabs(s0) ? 2.0 * s0 : p;
}

// Steffen 1990 (A&A 239, 443-450): the slope of the parabola through
// knot i and its two neighbours,
//   p = (s[i-1]*h[i] + s[i]*h[i-1]) / (h[i-1] + h[i]),
// limited to twice either secant, and 0 where the secants differ in sign or
// one is 0:
//   a[i] = (sign(s[i-1]) + sign(s[i])) * min(|s[i-1]|, |s[i]|, |p|/2).
// Monotone data give a monotone fit, with no extremum between knots. Two
// points give the line.
double SteffenInterior(double h0, double h1, double s0, double s1) {
  const double p = (s0 * h1 + s1 * h0) / (h0 + h1);
  return (Sign(s0) + Sign(s1)) *
         std::min({std::fabs(s0), std::fabs(s1), 0.5 * std::fabs(p)});
}

// The whole of text as a finite decimal number ("-1.5", "2e-3").
bool ReadFinite(std::string_view text, double &value) {
  // A plain decimal only: strtod would also take a leading blank or '+',
  // and hexadecimal.
  if (text.empty() ||
      std::string_view("-.0123456789").find(text[0]) ==
          std::string_view::npos ||
      text.find_first_of("xX \t\n\v\f\r") != std::string_view::npos) {
    return false;
  }
  const std::string whole(text); // strtod needs the terminating NUL
  char *stop = nullptr;
  const double read = StrtodC(whole.c_str(), &stop);
  if (whole.empty() || stop != whole.c_str() + whole.size() ||
      !std::isfinite(read)) {
    return false;
  }
  value = read;
  return true;
}

// What a clamped fit needs: end slopes it can use.
std::string FiniteEndSlopes(const MethodChoice &choice, int32_t /*n*/,
                            const double * /*y*/) {
  for (const double slope : {choice.start_slope, choice.end_slope}) {
    if (!std::isfinite(slope)) {
      return "clamped end slope is not finite (" + ShortNumber(slope) + ")";
    }
  }
  return {};
}

// What a periodic fit needs: the same y at both ends, as SciPy tests it,
// np.allclose(y[0], y[-1], rtol=1e-15, atol=1e-15): equal up to the
// rounding of the values themselves.
std::string EqualEnds(const MethodChoice & /*choice*/, int32_t n,
                      const double *y) {
  const double first = y[0];
  const double last = y[n - 1];
  if (!(std::fabs(first - last) <= 1e-15 + 1e-15 * std::fabs(last))) {
    return "periodic needs the first and last y equal (" + ShortNumber(first) +
           " and " + ShortNumber(last) + ")";
  }
  return {};
}

void NotAKnotFit(const MethodChoice & /*choice*/, int32_t n, const double *x,
                 const double *y, double *a, double *b, double *c) {
  ComputeCubicSpline(n, x, y, a, b, c);
}

// A method that chooses the slopes: the segments are their Hermite cubics.
using Slopes = void (*)(const Secants &, const MethodChoice &, double *);
template <Slopes slopes>
void HermiteFit(const MethodChoice &choice, int32_t n, const double *x,
                const double *y, double *a, double *b, double *c) {
  slopes(SecantsOf(n, x, y), choice, a);
  HermiteCoefficients(n, x, y, a, b, c);
}

// How the interpolants place knots within a bound: not-a-knot by least
// squares on every point's gap, the local ones on the points.
constexpr KnotPlacement kLeastSquares{true, 1};
constexpr KnotPlacement kOnPoints{false, 1};

// Akima's end secants continue the first two and the last two: a single
// segment has no second one, hence 3 points for akima and makima.
constexpr MethodInfo kMethods[] = {
    {.method = Method::kNotAKnot,
     .name = "not-a-knot",
     .fewest_points = 2,
     .needs = nullptr,
     .fit = NotAKnotFit,
     .fit_near = nullptr,
     .parameters = "",
     .help = " (default)",
     .tolerance = &kLeastSquares},
    {.method = Method::kNatural,
     .name = "natural",
     .fewest_points = 2,
     .needs = nullptr,
     .fit = HermiteFit<NaturalSlopes>,
     .fit_near = nullptr,
     .parameters = "",
     .help = ""},
    {.method = Method::kClamped,
     .name = "clamped",
     .fewest_points = 2,
     .needs = FiniteEndSlopes,
     .fit = HermiteFit<ClampedSlopes>,
     .fit_near = nullptr,
     .parameters = "[=D0,DN]",
     .help = ", clamped=D0,DN (end slopes)",
     .end_slopes = true},
    {.method = Method::kPeriodic,
     .name = "periodic",
     .fewest_points = 2,
     .needs = EqualEnds,
     .fit = HermiteFit<PeriodicSlopes>,
     .fit_near = nullptr,
     .parameters = "",
     .help = ""},
    {.method = Method::kPchip,
     .name = "pchip",
     .fewest_points = 2,
     .needs = nullptr,
     .fit = HermiteFit<LocalSlopes<PchipInterior, PchipEnd>>,
     .fit_near = nullptr,
     .parameters = "",
     .help = "",
     .tolerance = &kOnPoints},
    {.method = Method::kAkima,
     .name = "akima",
     .fewest_points = 3,
     .needs = nullptr,
     .fit = HermiteFit<AkimaSlopes>,
     .fit_near = nullptr,
     .parameters = "",
     .help = "",
     .tolerance = &kOnPoints},
    {.method = Method::kMakima,
     .name = "makima",
     .fewest_points = 3,
     .needs = nullptr,
     .fit = HermiteFit<MakimaSlopes>,
     .fit_near = nullptr,
     .parameters = "",
     .help = "",
     .tolerance = &kOnPoints},
    {.method = Method::kSteffen,
     .name = "steffen",
     .fewest_points = 2,
     .needs = nullptr,
     .fit = HermiteFit<LocalSlopes<SteffenInterior, SteffenEnd>>,
     .fit_near = nullptr,
     .parameters = "",
     .help = "",
     .tolerance = &kOnPoints},
    {.method = Method::kSmooth,
     .name = "smooth",
     .fewest_points = 3,
     .needs = nullptr,
     .fit = nullptr,
     .fit_near = FitSmoothingSpline,
     .parameters = "",
     .help = ", the cubic smoothing spline, near the points, not through "
             "them (x may repeat, not decrease)",
     .merges_equal_x = true,
     .weights = true,
     .smoothing = true,
     // Its table follows the smoothing fit (FollowWithinTolerance), as the
     // least-squares spline on the fit's values.
     .tolerance = &kLeastSquares},
};

} // namespace

std::span<const MethodInfo> AllMethods() {
  return kMethods;
}

const MethodInfo &InfoOf(Method method) {
  for (const MethodInfo &info : kMethods) {
    if (info.method == method) {
      return info;
    }
  }
  return kMethods[0]; // every Method has its row
}

bool ParseMethod(std::string_view text, MethodChoice &out) {
  if (Method method{}; ParseName(kMethods, &MethodInfo::method, text, method)) {
    out = MethodChoice{method, 0.0, 0.0};
    return true;
  }
  constexpr std::string_view kClampedTo = "clamped=";
  if (!text.starts_with(kClampedTo)) {
    return false;
  }
  text.remove_prefix(kClampedTo.size());
  const size_t comma = text.find(',');
  double d0 = 0.0;
  double dn = 0.0;
  if (comma == std::string_view::npos ||
      !ReadFinite(text.substr(0, comma), d0) ||
      !ReadFinite(text.substr(comma + 1), dn)) {
    return false;
  }
  out = MethodChoice{Method::kClamped, d0, dn};
  return true;
}

const char *MethodName(Method method) {
  return InfoOf(method).name;
}

std::string MethodList() {
  return NameList(kMethods,
                  [](const MethodInfo &info) { return info.parameters; });
}

std::string MethodHelp() {
  std::string words = "the interpolant:";
  for (const MethodInfo &info : kMethods) {
    words += words.ends_with(':') ? " " : info.fit == nullptr ? "; or " : ", ";
    words += std::string(info.name) + info.help;
  }
  return words;
}

std::vector<Method> Alternatives(Method method) {
  std::vector<Method> others;
  if (InfoOf(method).fit == nullptr) {
    return others;
  }
  for (const MethodInfo &info : kMethods) {
    if (info.method != method && info.fit != nullptr && !info.end_slopes) {
      others.push_back(info.method);
    }
  }
  return others;
}

bool TakesTolerance(Method method) {
  return InfoOf(method).tolerance != nullptr;
}

std::string ToleranceMethods() {
  std::string names;
  for (const MethodInfo &info : kMethods) {
    if (info.tolerance != nullptr) {
      names += (names.empty() ? "" : ", ") + std::string(info.name);
    }
  }
  return names;
}

std::string MethodProblem(const MethodChoice &choice, int32_t n,
                          const double *x, const double *y) {
  const MethodInfo &info = InfoOf(choice.method);
  int32_t count = n; // points, or for a smoothing method distinct x
  for (int32_t i = 1; info.merges_equal_x && i < n; ++i) {
    count -= x[i] == x[i - 1] ? 1 : 0;
  }
  if (count < info.fewest_points) {
    return std::string(info.name) + " needs at least " +
           std::to_string(info.fewest_points) +
           (info.merges_equal_x ? " distinct x (" : " points (") +
           std::to_string(count) + " given)";
  }
  return info.needs != nullptr ? info.needs(choice, n, y) : std::string();
}

void ComputeSpline(const MethodChoice &choice, int32_t n, const double *x,
                   const double *y, double *a, double *b, double *c) {
  InfoOf(choice.method).fit(choice, n, x, y, a, b, c);
}

} // namespace knotfit
