// The spline engine without any file: the cube's exact coefficients, the
// properties of every fit on random uneven knots, evaluation at the edges.
#include "knotfit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Fit {
  std::vector<double> x, y, a, b, c;
  Fit(std::vector<double> xs, std::vector<double> ys)
      : x(std::move(xs)), y(std::move(ys)), a(x.size(), kNaN),
        b(x.size(), kNaN), c(x.size(), kNaN) {
    ComputeCubicSpline(n(), x.data(), y.data(), a.data(), b.data(), c.data());
  }
  int32_t n() const { return static_cast<int32_t>(x.size()); }
  double at(double t) const {
    return getValue(t, n(), x.data(), y.data(), a.data(), b.data(), c.data());
  }
};

// n increasing knots, gaps from 0.01 to 10: neighbouring segments of very
// different lengths.
std::vector<double> RandomKnots(std::mt19937_64 &rng, size_t n) {
  std::uniform_real_distribution<double> start(-50.0, 50.0), gap(0.01, 10.0);
  std::vector<double> x{start(rng)};
  while (x.size() < n) {
    x.push_back(x.back() + gap(rng));
  }
  return x;
}

bool Near(double got, double want) {
  return std::fabs(got - want) <= 1e-9 * (1.0 + std::fabs(want));
}

// The stored tables of y = x^3 on 0..4 depend on these exact doubles, in every
// build type: a changed grouping or a fused multiply-add shows up here.
TEST(ComputeCubicSpline, CubeIsBitExact) {
  const Fit f({0, 1, 2, 3, 4}, {0, 1, 8, 27, 64});
  EXPECT_EQ(f.a,
            (std::vector<double>{0x1p-49, 2.999999999999999, 12.000000000000002,
                                 26.999999999999993, 48.000000000000014}));
  EXPECT_EQ(f.b,
            (std::vector<double>{-2.6645352591003757e-15, 3.000000000000001,
                                 6.000000000000005, 9.000000000000007, 0.0}));
  EXPECT_EQ(f.c, (std::vector<double>{1.0000000000000009, 1.0,
                                      0.9999999999999929, 1.0, 0.0}));
}

// Not-a-knot splines reproduce any cubic, 3 points give the parabola and 2
// the line through them: the polynomial of that degree comes back, slopes
// included, on 2 to 11 knots.
TEST(ComputeCubicSpline, ReproducesPolynomials) {
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> coefficient(-3.0, 3.0);
  for (int round = 0; round < 300; ++round) {
    const auto n = static_cast<size_t>(2 + round % 10);
    double p[4] = {coefficient(rng), coefficient(rng), coefficient(rng),
                   coefficient(rng)};
    std::fill(p + std::min<size_t>(n, 4), p + 4, 0.0);
    const auto poly = [&](double t) {
      return ((p[3] * t + p[2]) * t + p[1]) * t + p[0];
    };
    const std::vector<double> x = RandomKnots(rng, n);
    std::vector<double> y;
    for (double t : x) {
      y.push_back(poly(t));
    }
    const Fit f(x, y);
    for (size_t i = 0; i < n; ++i) {
      const double slope = (3.0 * p[3] * x[i] + 2.0 * p[2]) * x[i] + p[1];
      EXPECT_PRED2(Near, f.a[i], slope) << "n " << n << " knot " << i;
      const double t = i + 1 < n ? x[i] + 0.3 * (x[i + 1] - x[i]) : x[i];
      EXPECT_PRED2(Near, f.at(t), poly(t)) << "n " << n << " t " << t;
    }
    EXPECT_EQ(f.b[n - 1], 0.0); // belongs to no segment, but is stored
    EXPECT_EQ(f.c[n - 1], 0.0);
  }
}

// Rows 0 and n-1 of the system are written out separately; mirroring the
// data (x -> -x) swaps their roles, so the fit must come back mirrored.
TEST(ComputeCubicSpline, MirroredDataGiveMirroredFit) {
  std::mt19937_64 rng(77);
  std::uniform_real_distribution<double> value(-10.0, 10.0);
  for (int round = 0; round < 200; ++round) {
    const auto n = static_cast<size_t>(2 + round % 10);
    const std::vector<double> x = RandomKnots(rng, n);
    std::vector<double> y, mx, my;
    for (size_t i = 0; i < n; ++i) {
      y.push_back(value(rng));
    }
    for (size_t i = n; i-- > 0;) {
      mx.push_back(-x[i]);
      my.push_back(y[i]);
    }
    const Fit f(x, y), m(mx, my);
    for (size_t i = 0; i < n; ++i) {
      EXPECT_PRED2(Near, m.a[n - 1 - i], -f.a[i]) << "n " << n << " i " << i;
      const double t = i + 1 < n ? x[i] + 0.7 * (x[i + 1] - x[i]) : x[i];
      EXPECT_PRED2(Near, m.at(-t), f.at(t)) << "n " << n << " t " << t;
    }
  }
}

// A table whose segments disagree at the knots shows which segment getValue
// picks.
TEST(GetValue, EndsKnotsAndOutsideTheRange) {
  const std::vector<double> x{0.0, 1.0, 2.0, 3.0}, y{10.0, 20.0, 30.0, 40.0},
      a{1.0, 2.0, 3.0, 99.0}, b{0.0, 0.0, 0.0, 99.0}, c{0.0, 0.0, 0.0, 99.0};
  const struct {
    double t;
    double expected;
  } cases[] = {
      {-5.0, 10.0},  // below: first ordinate, no extrapolation
      {0.0, 10.0},   // first knot
      {0.5, 10.5},   // segment 0
      {1.0, 11.0},   // interior knot: right end of segment 0, not y[1]
      {2.0, 22.0},   // right end of segment 1
      {2.5, 31.5},   // segment 2
      {3.0, 40.0},   // last knot
      {1e300, 40.0}, // above: last ordinate
      {-kInf, 10.0}, {kInf, 40.0},
  };
  for (const auto &tc : cases) {
    EXPECT_EQ(
        getValue(tc.t, 4, x.data(), y.data(), a.data(), b.data(), c.data()),
        tc.expected)
        << "t = " << tc.t;
  }
  EXPECT_TRUE(std::isnan(
      getValue(kNaN, 4, x.data(), y.data(), a.data(), b.data(), c.data())));
}

} // namespace
