// Numbers in messages.
#include "short_numbers.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// printf's words in every build; libc++'s to_chars writes "-nan(ind)".
TEST(ShortNumbers, NotFiniteAsPrintf) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(knotfit::ShortNumber(inf), "inf");
  EXPECT_EQ(knotfit::ShortNumber(-inf), "-inf");
  EXPECT_EQ(knotfit::ShortNumber(nan), "nan");
  EXPECT_EQ(knotfit::ShortNumber(-nan), "-nan");
}

} // namespace
