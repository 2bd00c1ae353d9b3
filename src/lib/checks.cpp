#include "checks.h"

#include "c_numbers.h"
#include "exact_math.h"

#include <charconv>
#include <cmath>

namespace knotfit {

std::string PointsProblem(int32_t n, const double *x, const double *y) {
  if (n < 2) {
    return std::to_string(n) + (n == 1 ? " point" : " points") +
           ", at least 2 needed";
  }
  for (int32_t i = 0; i < n; ++i) {
    if (!std::isfinite(x[i]) || !std::isfinite(y[i])) {
      const bool bad_x = !std::isfinite(x[i]);
      return std::string(bad_x ? "x" : "y") + " of point " + std::to_string(i) +
             " is not finite (" + ShortNumber(bad_x ? x[i] : y[i]) + ")";
    }
    if (i > 0 && !(x[i] > x[i - 1])) {
      return "x not increasing at point " + std::to_string(i) + " (" +
             ShortNumber(x[i]) + " after " + ShortNumber(x[i - 1]) + ")";
    }
  }
  return {};
}

std::string ShortNumber(double v) {
  if (!std::isfinite(v)) {
    return NonFiniteText(v);
  }
#if defined(__cpp_lib_to_chars)
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
#else
  return ShortestC(v);
#endif
}

} // namespace knotfit
