// The smoothing spline against an independent dense solve of the same
// minimisation in long double, for lambda from 1e-12 to 1e12 times the
// natural scale; its two limits, merged ties, GCV against a grid, the
// degrees of freedom asked for, and the refusals; and the tables the program
// writes of it.
#include "fit/generate.h"
#include "fit/methods.h"
#include "fit/smoothing_spline.h"
#include "knotfit.h"
#include "knotfit/table.hpp"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <random>
#include <sstream>
#include <tuple>
#include <vector>

namespace {

using knotfit::Smoothing;
using knotfit::SmoothingFit;
using Rule = Smoothing::Rule;
using Values = std::vector<double>;
using Real = long double;
using Matrix = std::vector<std::vector<Real>>;

const auto D = [](Real v) { return static_cast<double>(v); };

// The minimiser at the knots (f = y - residual), its second derivatives
// there (g) and tr A, from Reinsch's characterisation solved densely: with
// Q the second differences and R the tridiagonal of int g^2,
// M = R + lambda Q'W^-1 Q, M g = Q'y, residual = lambda W^-1 Q g, and
// A = I - lambda W^-1 Q M^-1 Q'.
struct Dense {
  std::vector<Real> f, g, residual, diag; // diag: A's
  Real trace;
};
Dense Reference(const Values &x, const Values &y, const Values &w,
                Real lambda) {
  const size_t n = x.size(), p = n - 2;
  Matrix q(n, std::vector<Real>(p)), m(p, std::vector<Real>(p));
  Matrix rhs(p, std::vector<Real>(n + 1)); // Q', then Q'y
  for (size_t j = 0; j < p; ++j) {
    const Real h0 = Real(x[j + 1]) - x[j], h1 = Real(x[j + 2]) - x[j + 1];
    q[j][j] = 1 / h0;
    q[j + 1][j] = -1 / h0 - 1 / h1;
    q[j + 2][j] = 1 / h1;
    m[j][j] = (h0 + h1) / 3;
    if (j + 1 < p) {
      m[j][j + 1] = m[j + 1][j] = h1 / 6;
    }
  }
  for (size_t i = 0; i < p; ++i) {
    for (size_t k = 0; k < n; ++k) {
      for (size_t j = 0; j < p; ++j) {
        m[i][j] += lambda * q[k][i] * q[k][j] / w[k];
      }
      rhs[i][k] = q[k][i];
      rhs[i][n] += q[k][i] * y[k];
    }
  }
  for (size_t c = 0; c < p; ++c) { // Gauss-Jordan
    for (size_t r = 0; r < p; ++r) {
      const Real f = r == c ? 0 : m[r][c] / m[c][c];
      for (size_t k = 0; k < p; ++k) {
        m[r][k] -= f * m[c][k];
      }
      for (size_t k = 0; k <= n; ++k) {
        rhs[r][k] -= f * rhs[c][k];
      }
    }
  }
  auto s = [&](size_t j, size_t k) { return rhs[j][k] / m[j][j]; }; // M^-1 rhs
  Dense d{{}, std::vector<Real>(n), {}, {}, Real(n)};
  for (size_t k = 0; k < n; ++k) {
    Real qg = 0, qs = 0;
    for (size_t j = 0; j < p; ++j) {
      qg += q[k][j] * s(j, n);
      qs += q[k][j] * s(j, k);
    }
    d.g[k] = k > 0 && k + 1 < n ? s(k - 1, n) : 0;
    d.residual.push_back(lambda * qg / w[k]);
    d.f.push_back(y[k] - d.residual[k]);
    d.trace -= lambda * qs / w[k];
    d.diag.push_back(1 - lambda * qs / w[k]);
  }
  return d;
}

struct Points {
  Values x, y, w;
  bool dense = true;   // the dense reference keeps its digits
  int evaluations = 0; // the most lambdas GCV's search may try
};

// y = 100 sin x plus uniform noise up to 10, with gaps and weights from a
// fixed seed: even, uneven, weighted, gaps over four orders of magnitude
// (where the dense reference keeps 14 digits), the fewest points, a line
// (10 x, whose GCV is least for the largest lambda), 3000 uneven points
// (where GCV's scan stops a few steps past its minimum); pairs of
// points 1e-8 apart, where GCV has close minima of about equal depth (and the
// dense reference fails); and the weighted set in units where unscaled
// arithmetic would underflow.
std::vector<Points> Sets() {
  std::mt19937 rng(20240917);
  auto u = [&rng] { return static_cast<double>(rng()) / 4294967296.0; };
  std::vector<Points> sets;
  for (const auto &[n, kind] : {std::pair{40, 0},
                                {60, 1},
                                {25, 2},
                                {11, 3},
                                {3, 2},
                                {30, 4},
                                {3000, 1}}) {
    Points p{{0, 1e-3, 1, 1.01, 3, 3.1, 5, 8, 13, 21, 34},
             {},
             {},
             n <= 60,
             n <= 60 ? 35 : 28};
    p.x.resize(kind == 3 ? 11 : 1);
    while (p.x.size() < static_cast<size_t>(n)) {
      p.x.push_back(p.x.back() + (kind == 0 ? 0.5 : 0.1 + u()));
    }
    for (double x : p.x) {
      p.y.push_back((kind == 4 ? 10 * x : 100 * std::sin(x)) + 10 * u());
      p.w.push_back(kind >= 2 ? 0.25 + 4 * u() : 1.0);
    }
    sets.push_back(p);
  }
  for (const unsigned seed : {26u, 28u, 57u}) {
    rng.seed(seed);
    Points p{{0}, {}, Values(20, 1.0), false, 64};
    while (p.x.size() < 20) {
      p.x.push_back(p.x.back() + (u() < 0.5 ? 1e-8 : 1.0));
    }
    for (double x : p.x) {
      p.y.push_back(100 * std::sin(40 * x / p.x.back()) + 10 * u());
    }
    sets.push_back(p);
  }
  Points tiny = sets[2];
  for (size_t k = 0; k < tiny.x.size(); ++k) {
    tiny.x[k] = std::ldexp(tiny.x[k], -300);
    tiny.y[k] = std::ldexp(tiny.y[k], -300);
    tiny.w[k] = std::ldexp(tiny.w[k], -100);
  }
  sets.push_back(tiny);
  return sets;
}

SmoothingFit Fit(const Values &x, const Values &y, const Values &w,
                 Smoothing how) {
  SmoothingFit fit;
  EXPECT_EQ(knotfit::FitSmoothingSpline(x, y, w, how, fit), "");
  return fit;
}

// At every knot and midpoint within 1e-12 of y's range; lambda = 0 is the
// natural interpolant, and far beyond the useful range the weighted
// least-squares line: straight, its residuals (like every lambda's)
// W-orthogonal to 1 and x.
TEST(SmoothingSpline, MatchesTheDenseReferenceAndItsLimits) {
  for (const Points &p : Sets()) {
    if (!p.dense) {
      continue;
    }
    const size_t n = p.x.size();
    const Real rn = static_cast<Real>(n);
    const double width = p.x.back() - p.x[0];
    const double weight = std::accumulate(p.w.begin(), p.w.end(), 0.0);
    const auto [lo, hi] = std::minmax_element(p.y.begin(), p.y.end());
    Values a(n), b(n), c(n); // the natural spline's slopes: a
    knotfit::ComputeSpline({knotfit::Method::kNatural}, int32_t(n), p.x.data(),
                           p.y.data(), a.data(), b.data(), c.data());
    for (const double e : {-99, -12, -8, -4, 0, 4, 8, 12, 300}) {
      SCOPED_TRACE("n " + std::to_string(n) + ", 1e" + std::to_string(int(e)));
      const double scale = std::pow(width, 3) * weight / D(rn); // natural
      const double lambda = e == -99 ? 0.0 : scale * std::pow(10.0, e);
      const SmoothingFit f = Fit(p.x, p.y, p.w, {Rule::kLambda, lambda});
      const Dense d = Reference(p.x, p.y, p.w, lambda);
      const double tol = (lambda == 0 ? 1e-13 : 1e-12) * (*hi - *lo);
      Real rss = 0, r0 = 0, r1 = 0;
      for (size_t k = 0; k < n; ++k) {
        EXPECT_NEAR(f.y[k], D(d.f[k]), tol);
        EXPECT_NEAR(f.a[k], e == 300 ? f.a[0] : f.a[k], tol * 1e3 / width);
        rss += p.w[k] * d.residual[k] * d.residual[k];
        r0 += p.w[k] * (p.y[k] - f.y[k]);
        r1 += p.w[k] * (p.y[k] - f.y[k]) * (p.x[k] - p.x[0]);
        if (k + 1 == n) {
          break;
        }
        // A cubic's midpoint from its ends' values and S'', or slopes.
        const double h = p.x[k + 1] - p.x[k];
        const double got =
            getValue(p.x[k] + h / 2, int32_t(n), f.x.data(), f.y.data(),
                     f.a.data(), f.b.data(), f.c.data());
        EXPECT_NEAR(
            got,
            D((d.f[k] + d.f[k + 1]) / 2 - h * h * (d.g[k] + d.g[k + 1]) / 16),
            tol);
        const double natural =
            (p.y[k] + p.y[k + 1]) / 2 + h * (a[k] - a[k + 1]) / 8;
        EXPECT_NEAR(got, lambda > 0 ? got : natural, tol);
      }
      EXPECT_NEAR(D(r0), 0.0, tol * weight);
      EXPECT_NEAR(D(r1), 0.0, tol * weight * width);
      EXPECT_NEAR(f.df, D(d.trace), 1e-11 * D(rn));
      const Real gcv = rn * rss / ((rn - d.trace) * (rn - d.trace));
      EXPECT_NEAR(f.gcv, lambda > 0 ? D(gcv) : 0.0, 1e-9 * f.gcv);
      EXPECT_NEAR(f.rss, D(rss), 1e-9 * D(rss));
    }
  }
}

// Points with equal x fit as one point with the summed weight and the
// weighted mean y at any lambda (GCV's here counts each point, and so
// chooses another); the residuals stay those of the points given.
TEST(SmoothingSpline, TiesAreOneKnotWithSummedWeightAndMeanY) {
  const Values x = {0, 1, 1, 1, 2.5, 3, 3, 4}, y = {1, 2, 6, 1, 0, 5, -1, 2};
  const Values w = {1, 0.5, 2, 1, 1, 3, 1, 1};
  const Values mx = {0, 1, 2.5, 3, 4}, my = {1, 4, 0, 3.5, 2};
  const Values mw = {1, 3.5, 1, 4, 1};
  const double scatter = 0.5 * 4 + 2 * 4 + 9 + 3 * 2.25 + 20.25;
  for (const Smoothing how : {Smoothing{Rule::kLambda, 0.3}, Smoothing{}}) {
    const SmoothingFit ties = Fit(x, y, w, how);
    const SmoothingFit merged = Fit(mx, my, mw, {Rule::kLambda, ties.lambda});
    EXPECT_EQ(ties.x, mx);
    EXPECT_EQ(ties.y, merged.y);
    EXPECT_EQ(ties.a, merged.a);
    EXPECT_NEAR(ties.rss, merged.rss + scatter, 1e-12 * ties.rss);
    EXPECT_NEAR(ties.rms, std::sqrt(ties.rss / 10.5), 1e-15 * ties.rms);
    EXPECT_NEAR(ties.max_residual, ties.y[3] + 1, 1e-14); // y = -1 at x = 3
    EXPECT_EQ(ties.max_residual_x, 3.0);
    EXPECT_EQ(ties.b.back(), 0.0); // no segment starts at the last knot
    EXPECT_EQ(ties.c.back(), 0.0);
  }
}

// Tied points each counted: GCV = n RSS / (n - tr A)^2 with RSS over the
// points, leave-one-out CV with h = A_kk w / W_k (and its lambda CV's
// minimiser), the residuals, leverages, sigma, the band's variances and the
// band itself between and beyond the knots, against the dense reference of
// the merged points, with ties and weights and without either.
TEST(SmoothingSpline, EveryPointCountsInGcvCvAndTheBand) {
  const Values x = {0, 1, 1, 1, 2.5, 3, 3, 4, 5, 5.5, 7};
  const Values y = {1, 2, 6, 1, 0, 5, -1, 2, 3, 2.5, 6};
  const Values w = {1, 0.5, 2, 1, 1, 3, 1, 1, 2, 1, 1};
  const Values plain = {0, 1, 2, 2.5, 3, 4, 5, 5.5, 7, 8, 9};
  for (const bool tied : {true, false}) {
    const Values &px = tied ? x : plain;
    const Values pw = tied ? w : Values{};
    const Values &py = y;
    Values mx, my, mw;
    std::vector<size_t> knot; // each point's
    for (size_t i = 0; i < px.size(); ++i) {
      const double wi = pw.empty() ? 1.0 : pw[i];
      if (i == 0 || px[i] != px[i - 1]) {
        mx.push_back(px[i]), my.push_back(0), mw.push_back(0);
      }
      my.back() += wi * py[i], mw.back() += wi, knot.push_back(mx.size() - 1);
    }
    for (size_t k = 0; k < mx.size(); ++k) {
      my[k] /= mw[k];
    }
    const Real n = Real(px.size());
    struct Figures {
      Real gcv, cv, rss, trace;
    };
    auto figures = [&](double lambda) {
      const Dense d = Reference(mx, my, mw, lambda);
      Figures f{0, 0, 0, d.trace};
      Real sw = 0;
      for (size_t i = 0; i < px.size(); ++i) {
        const size_t k = knot[i];
        const Real wi = pw.empty() ? 1 : pw[i], r = py[i] - d.f[k];
        f.rss += wi * r * r;
        const Real h = d.diag[k] * wi / mw[k];
        f.cv += wi * (r / (1 - h)) * (r / (1 - h));
        sw += wi;
      }
      f.cv /= sw;
      f.gcv = n * f.rss / ((n - d.trace) * (n - d.trace));
      return f;
    };
    for (const Smoothing how :
         {Smoothing{Rule::kLambda, 0.3, true}, Smoothing{Rule::kGcv, 0, true},
          Smoothing{Rule::kCv, 0, true}}) {
      SCOPED_TRACE(std::to_string(tied) + " " +
                   std::to_string(static_cast<int>(how.rule)));
      const SmoothingFit f = Fit(px, py, pw, how);
      const Dense d = Reference(mx, my, mw, f.lambda);
      const Figures r = figures(f.lambda);
      EXPECT_NEAR(f.gcv, D(r.gcv), 1e-12 * f.gcv);
      EXPECT_EQ(f.cv, how.rule == Rule::kCv);
      ASSERT_TRUE(f.score && f.sigma && f.band_max);
      EXPECT_EQ(*f.score, how.rule == Rule::kCv ? *f.score : f.gcv);
      EXPECT_NEAR(*f.score, D(f.cv ? r.cv : r.gcv), 1e-12 * *f.score);
      EXPECT_NEAR(*f.sigma, D(std::sqrt(r.rss / (n - r.trace))), 1e-13);
      if (how.rule != Rule::kLambda) { // the minimiser, to 1e-6 in lambda
        for (const double step : {1 - 1e-4, 1 + 1e-4}) {
          const Figures g = figures(f.lambda * step);
          EXPECT_GE(D(f.cv ? g.cv : g.gcv), *f.score * (1 - 1e-12));
        }
      }
      Real widest = 0;
      for (size_t k = 0; k < mx.size(); ++k) {
        EXPECT_NEAR(f.variance[k], D(d.diag[k] / mw[k]), 1e-13);
        widest = std::max(widest, d.diag[k] / mw[k]);
      }
      EXPECT_NEAR(*f.band_max,
                  2 * 1.959963984540054 * *f.sigma * D(std::sqrt(widest)),
                  1e-12 * *f.band_max);
      for (size_t i = 0; i < px.size(); ++i) {
        const size_t k = knot[i];
        EXPECT_NEAR(f.residuals[i], D(py[i] - d.f[k]), 1e-13);
        EXPECT_NEAR(f.leverage[i],
                    D(d.diag[k] * (pw.empty() ? 1 : pw[i]) / mw[k]), 1e-14);
      }
      // The band through the public interface: at the knots, halfway to
      // the next, and beyond both ends.
      const knotfit::Spline s = knotfit::smooth(px, py, pw, how);
      for (const auto &[level, z] :
           {std::pair{0.95, 1.959963984540054}, {0.5, 0.6744897501960817}}) {
        Values t = {-1, 10};
        for (size_t k = 0; k + 1 < mx.size(); ++k) {
          t.push_back(mx[k]), t.push_back((mx[k] + mx[k + 1]) / 2);
        }
        const knotfit::Band b = knotfit::band(s, t, level);
        for (size_t j = 0; j < t.size(); ++j) {
          // The distinct x at or below t[j] (t[0] and t[1] lie beyond the
          // ends).
          const auto k = static_cast<size_t>(std::max<std::ptrdiff_t>(
              std::upper_bound(mx.begin(), mx.end(), t[j]) - mx.begin() - 1,
              0));
          const double v = j < 2 ? f.variance[j == 0 ? 0 : mx.size() - 1]
                           : t[j] == mx[k]
                               ? f.variance[k]
                               : (f.variance[k] + f.variance[k + 1]) / 2;
          const double half = z * *f.sigma * std::sqrt(v);
          EXPECT_NEAR(b.upper[j] - s.value(t[j]), half, 1e-13) << t[j];
          EXPECT_NEAR(s.value(t[j]) - b.lower[j], half, 1e-13) << t[j];
        }
      }
    }
  }
  // No sigma without points beyond the degrees of freedom; the levels.
  const knotfit::Spline s =
      knotfit::smooth(plain, y, {}, {Rule::kLambda, 0.0, true});
  EXPECT_FALSE(s.smoothing()->sigma);
  EXPECT_FALSE(s.smoothing()->band_max);
  EXPECT_THROW(knotfit::band(s, {1.0}), knotfit::Error);
  const knotfit::Spline t = knotfit::smooth(plain, y, {}, {Rule::kGcv});
  EXPECT_THROW(knotfit::band(t, {1.0}), knotfit::Error); // no details
  const knotfit::Spline u =
      knotfit::smooth(plain, y, {}, {Rule::kGcv, 0, true});
  for (const double level : {0.0, 1.0, -0.5, double(NAN)}) {
    EXPECT_THROW(knotfit::band(u, {1.0}, level), knotfit::Error);
  }
}

// R's smooth.spline(all.knots = TRUE) on real data sets, its figures kept
// in tests/data/smoothing (r_figures.R made them; the guide's braking
// readings among them): lambda and df chosen by
// GCV, or CV without ties, and the criterion's value. R's lambda is ours
// over (x range)^3 sum w / n; its cv.crit our score n / sum w.
TEST(SmoothingSpline, AgreesWithRsFiguresOnRealData) {
  std::istringstream rows(ReadFile(KNOTFIT_DATA "/smoothing/figures.csv"));
  std::string line;
  int compared = 0;
  while (std::getline(rows, line)) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream row(line);
    std::string name, criterion;
    double lambda = 0, df = 0, crit = 0;
    row >> name >> criterion >> lambda >> df >> crit;
    SCOPED_TRACE(name + " " + criterion);
    std::istringstream data(
        ReadFile(KNOTFIT_DATA "/smoothing/" + name + ".csv"));
    Values x, y;
    for (std::string point; std::getline(data, point);) {
      x.push_back(std::strtod(point.c_str(), nullptr));
      y.push_back(std::strtod(point.c_str() + point.find(',') + 1, nullptr));
    }
    const SmoothingFit f =
        Fit(x, y, {}, {criterion == "cv" ? Rule::kCv : Rule::kGcv});
    const double range = x.back() - x.front();
    EXPECT_NEAR(f.lambda / (range * range * range), lambda, 1e-3 * lambda);
    EXPECT_NEAR(f.df, df, 1e-4 * df);
    EXPECT_NEAR(*f.score, crit, 1e-5 * crit);
    ++compared;
  }
  EXPECT_EQ(compared, 7);
}

TEST(SmoothingSpline, GcvBeatsAGridAndDfIsMet) {
  for (const Points &p : Sets()) {
    const double n = static_cast<double>(p.x.size());
    SCOPED_TRACE(n);
    const SmoothingFit gcv = Fit(p.x, p.y, p.w, {});
    auto score = [&](double lambda) {
      return Fit(p.x, p.y, p.w, {Rule::kLambda, lambda}).gcv;
    };
    const double low = gcv.lambda_low, high = gcv.lambda_high;
    double best = INFINITY;
    for (int i = 0; i < 200; ++i) {
      best = std::min(best, score(low * std::pow(high / low, i / 199.0)));
    }
    EXPECT_LE(gcv.gcv, best * (1 + 1e-6));
    EXPECT_LE(gcv.evaluations, p.evaluations); // the search's cost
    EXPECT_NEAR(score(low / 1e6), score(low), 1e-7 * score(low));
    EXPECT_NEAR(score(high * 1e6), score(high), 1e-7 * score(high));
    for (const double k : {2 + 1e-9, 2.25, (2 + n) / 2, n - 0.5, n - 1e-9, n}) {
      const SmoothingFit df = Fit(p.x, p.y, p.w, {Rule::kDegreesOfFreedom, k});
      EXPECT_NEAR(df.df, k, 1e-8);
      EXPECT_LE(df.evaluations, 48);
      if (p.dense) {
        EXPECT_NEAR(D(Reference(p.x, p.y, p.w, df.lambda).trace), k, 1e-8);
      }
    }
  }
}

// GCV's lambda is its minimiser to 1e-6, relative: the minimiser of the
// dense reference's GCV, by golden sections on log lambda.
TEST(SmoothingSpline, GcvLambdaIsTheMinimiser) {
  for (const Points &p : Sets()) {
    const SmoothingFit f = Fit(p.x, p.y, p.w, {});
    if (!p.dense || f.lambda >= f.lambda_high || p.x.size() < 4) {
      continue; // GCV constant, or least beyond the useful range
    }
    const Real n = static_cast<Real>(p.x.size());
    auto gcv = [&](Real log_lambda) {
      const Dense d = Reference(p.x, p.y, p.w, std::exp(log_lambda));
      Real rss = 0;
      for (size_t k = 0; k < p.x.size(); ++k) {
        rss += p.w[k] * d.residual[k] * d.residual[k];
      }
      return n * rss / ((n - d.trace) * (n - d.trace));
    };
    const Real golden = (std::sqrt(Real(5)) - 1) / 2;
    const Real lo = std::log(Real(f.lambda) / 4), hi = lo + std::log(Real(16));
    Real a = lo, b = hi, c = b - golden * (b - a), d = a + golden * (b - a);
    Real gc = gcv(c), gd = gcv(d);
    while (b - a > 1e-9) {
      if (gc < gd) {
        b = d, d = c, gd = gc, c = b - golden * (b - a), gc = gcv(c);
      } else {
        a = c, c = d, gc = gd, d = a + golden * (b - a), gd = gcv(d);
      }
    }
    const Real least = std::min(gc, gd);
    if (gcv(lo) > least * (1 + 1e-6) && gcv(hi) > least * (1 + 1e-6)) {
      // a dip, not GCV flat on its way to lambda = 0
      EXPECT_NEAR(f.lambda, D(std::exp((a + b) / 2)), 1e-6 * f.lambda)
          << p.x.size();
    }
  }
}

// Only x's gaps and range matter: moved by a power of two that keeps every
// x and gap exact, the fit is the same to the bit, however lambda is chosen.
TEST(SmoothingSpline, MovingXChangesNothing) {
  const Points p = Sets()[0]; // x in steps of 0.5
  for (const Smoothing how :
       {Smoothing{}, Smoothing{Rule::kDegreesOfFreedom, 7},
        Smoothing{Rule::kLambda, 0.3}}) {
    const SmoothingFit at0 = Fit(p.x, p.y, p.w, how);
    for (const double by : {1024.0, -4096.0}) {
      SCOPED_TRACE(by);
      Values x = p.x;
      for (double &v : x) {
        v += by;
      }
      const SmoothingFit moved = Fit(x, p.y, p.w, how);
      EXPECT_EQ(moved.lambda, at0.lambda);
      EXPECT_EQ(moved.lambda_high, at0.lambda_high);
      EXPECT_EQ(moved.gcv, at0.gcv);
      EXPECT_EQ(moved.y, at0.y);
      EXPECT_EQ(moved.a, at0.a);
      EXPECT_EQ(moved.c, at0.c);
    }
  }
}

// y and weights so small that they are subnormal are scaled to normal
// numbers first: GCV and df choose the same fit as in larger units, to
// within the bits a subnormal holds.
TEST(SmoothingSpline, SubnormalYAndWeights) {
  const Points p = Sets()[2];
  Values y = p.y, w = p.w;
  for (size_t k = 0; k < y.size(); ++k) {
    y[k] = std::ldexp(y[k], -1060);
    w[k] = std::ldexp(w[k], -1060);
  }
  for (const Smoothing how :
       {Smoothing{}, Smoothing{Rule::kDegreesOfFreedom, 7}}) {
    const SmoothingFit large = Fit(p.x, p.y, p.w, how);
    const SmoothingFit small = Fit(p.x, y, w, how);
    ASSERT_EQ(small.y.size(), large.y.size());
    for (size_t k = 0; k < large.y.size(); ++k) {
      EXPECT_NEAR(std::ldexp(small.y[k], 1060), large.y[k], 1e-3) << k;
    }
  }
}

// Weights all equal fit as weights 1, to the bit, at either end of the
// doubles: subnormal, or so large that their sum overflows; lambda scales
// with them (inf where it overflows). rms and max_residual stay those of
// weights 1; with y subnormal they are those of the larger y, scaled.
TEST(SmoothingSpline, ExtremeWeightsFitAsWeightsOne) {
  const Points p = Sets()[0];
  const Values one(p.x.size(), 1.0);
  for (const Smoothing how :
       {Smoothing{}, Smoothing{Rule::kDegreesOfFreedom, 3}}) {
    const SmoothingFit base = Fit(p.x, p.y, one, how);
    for (const int e : {-1074, 1023}) {
      SCOPED_TRACE(e);
      const SmoothingFit f =
          Fit(p.x, p.y, Values(p.x.size(), std::ldexp(1.0, e)), how);
      EXPECT_EQ(f.y, base.y);
      EXPECT_EQ(f.a, base.a);
      EXPECT_EQ(f.df, base.df);
      EXPECT_EQ(f.rms, base.rms);
      EXPECT_EQ(f.max_residual, base.max_residual);
      EXPECT_EQ(f.lambda, std::ldexp(base.lambda, e));
    }
    Values y = p.y;
    for (double &v : y) {
      v = std::ldexp(v, -1060);
    }
    const SmoothingFit small = Fit(p.x, y, one, how);
    // y subnormal keeps its multiples of 2^-1074: 2^-14 in the larger units.
    EXPECT_NEAR(std::ldexp(small.rms, 1060), base.rms, 1e-4);
    EXPECT_NEAR(std::ldexp(small.max_residual, 1060), base.max_residual, 1e-4);
  }
}

// y so large that a tie's sum overflows: the fit of y / 2^1017, scaled.
TEST(SmoothingSpline, HugeTiedYFitAsSmallerY) {
  Values x = Sets()[0].x, y = Sets()[0].y;
  const auto top = std::max_element(y.begin(), y.end()) - y.begin();
  x[static_cast<size_t>(top) + 1] = x[static_cast<size_t>(top)];
  const SmoothingFit small = Fit(x, y, {}, {});
  for (double &v : y) {
    v = std::ldexp(v, 1017);
  }
  const SmoothingFit large = Fit(x, y, {}, {});
  ASSERT_EQ(large.y.size(), small.y.size());
  for (size_t k = 0; k < small.y.size(); ++k) {
    EXPECT_EQ(large.y[k], std::ldexp(small.y[k], 1017)) << k;
  }
}

TEST(SmoothingSpline, RefusesWhatItCannotFit) {
  auto problem = [](Values x, Values w, Smoothing how) {
    SmoothingFit fit;
    return knotfit::FitSmoothingSpline(x, Values{0, 1, 0}, w, how, fit);
  };
  const Values x = {0, 1, 2};
  EXPECT_EQ(problem({0, 1, 1}, {}, {}),
            "smooth needs at least 3 distinct x (2 given)");
  EXPECT_EQ(problem({0, 2, 1}, {}, {}),
            "smooth needs x in non-decreasing order (point 2)");
  EXPECT_EQ(problem(x, {1, 0, 1}, {}),
            "smooth weight 0 of point 1 is not finite and positive");
  EXPECT_EQ(problem(x, {}, {Rule::kLambda, -1}),
            "smooth lambda -1 is not finite and non-negative");
  EXPECT_EQ(problem(x, {}, {Rule::kDegreesOfFreedom, 2}),
            "smooth df 2 is not above 2 and at most the number of distinct "
            "x, 3");
  EXPECT_EQ(problem(x, {1, 1e31, 1}, {}),
            "smooth needs weights within a factor 2^100 of each other");
  EXPECT_EQ(problem(x, {1, 0x1p100, 1}, {}), ""); // just within
  EXPECT_EQ(problem({-1e308, 0, 1e308}, {}, {}),
            "smooth needs an x range that a double holds (x -1e+308 to "
            "1e+308 overflows)");
  EXPECT_EQ(problem({0, 1e-31, 1}, {}, {}),
            "smooth needs every x gap at least 2^-100 of the x range (x 0 "
            "and 1e-31)");
}

// The tables knotfit writes with -m smooth (GenerateCubicSpline, as a run
// does) against the dense reference of the points merged by hand (equal x
// one point, summed weight, weighted mean y), within binary32's rounding:
// a lambda given, with weights and without, the degrees of freedom asked
// for, GCV, and a lambda so large that the fit is the weighted
// least-squares line.
TEST(SmoothingSpline, ProgramTablesMatchTheMergedReference) {
  const Values x = {0, 1, 1, 2, 3.5, 4, 4, 4, 6, 7.25};
  const Values y = {1, 3, 2, 4, 3, 7, 5, 6.5, 2, 4};
  const Values w = {1, 2, 0.5, 1, 3, 1, 1, 2, 1, 0.25};
  const Values mx = {0, 1, 2, 3.5, 4, 6, 7.25}, mw = {1, 2.5, 1, 3, 4, 1, 0.25};
  const Values my = {1, 2.8, 4, 3, 6.25, 2, 4};
  const Values my1 = {1, 2.5, 4, 3, 18.5 / 3, 2, 4};
  char dir[] = "/tmp/knotfit_smooth_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::filesystem::path kel = dir;
  std::filesystem::create_directories(kel / "CS" / "plot");
  const KelSettings settings{kel.string(), false};
  Console console(Console::Options{true});
  const struct {
    bool weighted;
    Smoothing how;
  } rows[] = {{false, {Rule::kLambda, 0.7}},
              {true, {Rule::kLambda, 0.7}},
              {true, {Rule::kDegreesOfFreedom, 4.5}},
              {true, {}},
              {true, {Rule::kLambda, 1e12}}};
  for (const auto &row : rows) {
    SCOPED_TRACE(static_cast<int>(row.how.rule) + row.how.value);
    ::Run run{console, {knotfit::Method::kSmooth}};
    run.kel = &settings;
    run.smoothing = row.how;
    DataSet set;
    set.n = 10, set.x = x.data(), set.y = y.data(), set.name = "s";
    set.w = row.weighted ? w.data() : nullptr;
    const DataSetOutcome out = GenerateCubicSpline(set, run);
    ASSERT_EQ(out.files, Outcome::kWritten);
    const Values &ry = row.weighted ? my : my1;
    const Values rw = row.weighted ? mw : Values{1, 2, 1, 1, 3, 1, 1};
    const Dense d = Reference(mx, ry, rw, out.smoothing->lambda);
    const std::string bytes = ReadFile((kel / "CS" / "s").string());
    const knotfit::Table t = knotfit::read_table(
        reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    ASSERT_EQ(t.x().size(), mx.size());
    Real sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0; // the weighted line
    for (size_t k = 0; k < mx.size(); ++k) {
      EXPECT_EQ(t.x()[k], static_cast<float>(mx[k]));
      const double f = D(d.f[k]);
      EXPECT_NEAR(t.y()[k], f, std::ldexp(std::fabs(f), -24) + 1e-12 * 6);
      sw += rw[k], sx += rw[k] * mx[k], sy += rw[k] * ry[k];
      sxx += rw[k] * mx[k] * mx[k], sxy += rw[k] * mx[k] * ry[k];
    }
    if (row.how.rule == Rule::kDegreesOfFreedom) {
      EXPECT_NEAR(D(d.trace), 4.5, 1e-8);
    }
    if (row.how.value == 1e12) {
      const Real slope = (sw * sxy - sx * sy) / (sw * sxx - sx * sx);
      for (size_t k = 0; k < mx.size(); ++k) {
        EXPECT_NEAR(t.y()[k], D((sy + slope * (mx[k] * sw - sx)) / sw), 1e-5);
      }
    }
  }
  std::filesystem::remove_all(kel);
}

} // namespace
