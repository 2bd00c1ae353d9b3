// The SplineTable functions: the cube's exact coefficients, evaluation at the
// edges. (The fits against SciPy's, for every method, are in methods_test.)
#include "knotfit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The stored tables of y = x^3 on 0..4 depend on these exact doubles, in every
// build type: a changed grouping or a fused multiply-add shows up here.
TEST(ComputeCubicSpline, CubeIsBitExact) {
  const double x[] = {0, 1, 2, 3, 4}, y[] = {0, 1, 8, 27, 64};
  std::vector<double> a(5, kNaN), b(a), c(a);
  ComputeCubicSpline(5, x, y, a.data(), b.data(), c.data());
  EXPECT_EQ(a,
            (std::vector<double>{0x1p-49, 2.999999999999999, 12.000000000000002,
                                 26.999999999999993, 48.000000000000014}));
  EXPECT_EQ(b,
            (std::vector<double>{-2.6645352591003757e-15, 3.000000000000001,
                                 6.000000000000005, 9.000000000000007, 0.0}));
  EXPECT_EQ(c, (std::vector<double>{1.0000000000000009, 1.0, 0.9999999999999929,
                                    1.0, 0.0}));
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
