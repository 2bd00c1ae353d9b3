// The C library's conversions that stand in where the standard library has no
// floating-point to_chars: the same text as std::to_chars, compared where it
// is there.
#include "c_numbers.h"
#include "checks.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

TEST(CNumbers, ShortestIsToChars) {
#if !defined(__cpp_lib_to_chars)
  GTEST_SKIP() << "no floating-point std::to_chars to compare with";
#else
  using limits = std::numeric_limits<double>;
  std::vector<double> values = {
      0.0,      -0.0,          0.1,           2.5,
      100,      1e-5,          1e15,          1e16,
      1e22,     1e23,          5e-324,        0x1p60,
      123456.7, limits::max(), limits::min(), 9007199254740993.0};
  // Powers of two: the doubles below them lie twice as close as above.
  for (int e = -1074; e <= 1023; ++e) {
    values.push_back(std::ldexp(1.0, e));
  }
  std::mt19937_64 rng(11);
  for (int i = 0; i < 10000; ++i) {
    const auto any = std::bit_cast<double>(rng());
    values.push_back(std::isfinite(any) ? any : 0.0);
    // Short decimals of any magnitude: fixed against scientific notation.
    values.push_back(static_cast<double>(rng() % 100000) *
                     std::pow(10.0, static_cast<double>(rng() % 44) - 22));
  }
  for (const double v : values) {
    char text[64];
    char *end = std::to_chars(text, text + sizeof text, v).ptr;
    ASSERT_EQ(knotfit::ShortestC(v), std::string(text, end))
        << std::bit_cast<uint64_t>(v);
    // The same for the binary32 values of the tables' messages.
    const auto f = static_cast<float>(std::fabs(v) < 3e38 ? v : 1.0);
    end = std::to_chars(text, text + sizeof text, f).ptr;
    ASSERT_EQ(knotfit::ShortestC(f), std::string(text, end))
        << std::bit_cast<uint32_t>(f);
  }
#endif
}

// printf's words in every build; libc++'s to_chars writes "-nan(ind)".
TEST(CNumbers, NotFiniteAsPrintf) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(knotfit::ShortNumber(inf), "inf");
  EXPECT_EQ(knotfit::ShortNumber(-inf), "-inf");
  EXPECT_EQ(knotfit::ShortNumber(nan), "nan");
  EXPECT_EQ(knotfit::ShortNumber(-nan), "-nan");
}

} // namespace
