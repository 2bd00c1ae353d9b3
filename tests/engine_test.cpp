// The spline engine without any file: exact coefficients, cubics reproduced,
// mirror symmetry of the two end conditions, evaluation at the edges.
#include "knotfit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

struct Fit {
  std::vector<double> x, y, a, b, c;
  int32_t n() const { return static_cast<int32_t>(x.size()); }
  double at(double t) const {
    return getValue(t, n(), x.data(), y.data(), a.data(), b.data(), c.data());
  }
};

Fit FitOf(std::vector<double> x, std::vector<double> y) {
  Fit f{std::move(x), std::move(y), {}, {}, {}};
  const double unset = std::numeric_limits<double>::quiet_NaN();
  f.a.assign(f.x.size(), unset);
  f.b.assign(f.x.size(), unset);
  f.c.assign(f.x.size(), unset);
  ComputeCubicSpline(f.n(), f.x.data(), f.y.data(), f.a.data(), f.b.data(),
                     f.c.data());
  return f;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

double Cubic(double t) {
  return ((0.5 * t - 2.0) * t + 0.25) * t - 3.0;
}

// The stored tables of y = x^3 on 0..4 depend on these exact doubles, in every
// build type: a changed grouping or a fused multiply-add shows up here.
TEST(ComputeCubicSpline, CubeIsBitExact) {
  const Fit f = FitOf({0, 1, 2, 3, 4}, {0, 1, 8, 27, 64});
  const std::vector<double> slopes{0x1p-49, 2.999999999999999,
                                   12.000000000000002, 26.999999999999993,
                                   48.000000000000014};
  const std::vector<double> quadratic{-2.6645352591003757e-15,
                                      3.000000000000001, 6.000000000000005,
                                      9.000000000000007, 0.0};
  const std::vector<double> cubic{1.0000000000000009, 1.0, 0.9999999999999929,
                                  1.0, 0.0};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(f.a[i], slopes[i]) << "slope " << i;
    EXPECT_EQ(f.b[i], quadratic[i]) << "quadratic " << i;
    EXPECT_EQ(f.c[i], cubic[i]) << "cubic " << i;
  }
  EXPECT_TRUE(std::signbit(f.b[4]) == false); // defined as +0.0, not garbage
}

// Not-a-knot splines reproduce any cubic: on four knots (the smallest system,
// where the elimination loop runs twice) and on unevenly spaced knots.
TEST(ComputeCubicSpline, ReproducesCubicsOnUnevenKnots) {
  const std::vector<std::vector<double>> knot_sets{
      {-1.0, 0.5, 2.0, 6.0},
      {0.0, 0.1, 0.15, 1.0, 1.05, 3.0, 7.5, 7.6},
      {-10.0, -9.999, -3.0, 0.0, 0.001, 2.0, 2.5, 40.0, 41.0},
  };
  for (const auto &xs : knot_sets) {
    std::vector<double> ys;
    ys.reserve(xs.size());
    for (double t : xs) {
      ys.push_back(Cubic(t));
    }
    const Fit f = FitOf(xs, ys);
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      const double scale = 1.0 + std::fabs(xs[i]) * std::fabs(xs[i]);
      EXPECT_NEAR(f.c[i], 0.5, 1e-6 * scale) << "segment " << i;
      for (double frac : {0.25, 0.5, 0.9}) {
        const double t = xs[i] + frac * (xs[i + 1] - xs[i]);
        EXPECT_NEAR(f.at(t), Cubic(t), 1e-9 * (1.0 + std::fabs(Cubic(t))))
            << "t = " << t;
      }
    }
  }
}

// Rows 0 and n-1 are written out separately; mirroring the data (x -> -x)
// swaps their roles, so the slopes must come back mirrored too.
TEST(ComputeCubicSpline, MirroredDataGiveMirroredFit) {
  const std::vector<double> xs{0.0, 0.3, 1.7, 2.0, 4.5, 5.0, 8.0};
  const std::vector<double> ys{1.0, -2.0, 0.5, 3.0, 3.5, -1.0, 2.0};
  std::vector<double> mx, my;
  for (size_t i = xs.size(); i-- > 0;) {
    mx.push_back(-xs[i]);
    my.push_back(ys[i]);
  }
  const Fit f = FitOf(xs, ys);
  const Fit m = FitOf(mx, my);
  const size_t n = xs.size();
  for (size_t i = 0; i < n; ++i) {
    EXPECT_NEAR(m.a[n - 1 - i], -f.a[i], 1e-12 * (1.0 + std::fabs(f.a[i])));
  }
  for (double t : {0.1, 1.0, 1.9, 3.3, 4.9, 6.0, 7.9}) {
    EXPECT_NEAR(m.at(-t), f.at(t), 1e-12 * (1.0 + std::fabs(f.at(t))));
  }
}

TEST(ComputeCubicSpline, ShortDataSetsFallBackToLowerOrder) {
  const Fit line = FitOf({1.0, 3.0}, {2.0, 6.0});
  EXPECT_EQ(line.a, (std::vector<double>{2.0, 2.0}));
  EXPECT_EQ(line.b, (std::vector<double>{0.0, 0.0}));
  EXPECT_EQ(line.c, (std::vector<double>{0.0, 0.0}));

  // y = 2x^2 - x + 1 through three uneven knots.
  const Fit par = FitOf({-1.0, 0.0, 2.0}, {4.0, 1.0, 7.0});
  EXPECT_EQ(par.a, (std::vector<double>{-5.0, -1.0, 7.0}));
  EXPECT_EQ(par.b, (std::vector<double>{2.0, 2.0, 0.0}));
  EXPECT_EQ(par.c, (std::vector<double>{0.0, 0.0, 0.0}));
  EXPECT_EQ(par.at(1.0), 2.0);
}

// A table whose segments disagree at the knots shows which segment getValue
// picks.
TEST(GetValue, EndsKnotsAndOutsideTheRange) {
  const std::vector<double> x{0.0, 1.0, 2.0, 3.0};
  const std::vector<double> y{10.0, 20.0, 30.0, 40.0};
  const std::vector<double> a{1.0, 2.0, 3.0, 99.0};
  const std::vector<double> b{0.0, 0.0, 0.0, 99.0};
  const std::vector<double> c{0.0, 0.0, 0.0, 99.0};
  auto at = [&](double t) {
    return getValue(t, 4, x.data(), y.data(), a.data(), b.data(), c.data());
  };
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
    EXPECT_EQ(at(tc.t), tc.expected) << "t = " << tc.t;
  }
  EXPECT_TRUE(std::isnan(at(std::numeric_limits<double>::quiet_NaN())));
}

TEST(GetValue, CubeBetweenKnots) {
  const Fit f = FitOf({0, 1, 2, 3, 4}, {0, 1, 8, 27, 64});
  EXPECT_NEAR(f.at(2.5), 15.625, 1e-12);
}

} // namespace
