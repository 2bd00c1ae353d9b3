// The cube's exact coefficients. (The fits against SciPy's, for every method,
// are in methods_test; getValue against the C reader in table_header_test.)
#include "knotfit.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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

} // namespace
