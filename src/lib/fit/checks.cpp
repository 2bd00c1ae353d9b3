#include "checks.h"

#include "../exact_math.h"
#include "../text/short_numbers.h"

#include <cmath>

namespace knotfit {

std::string PointsProblem(int32_t n, const double *x, const double *y,
                          ProblemPoint *about, bool equal_x) {
  if (n < 2) {
    return std::to_string(n) + (n == 1 ? " point" : " points") +
           ", at least 2 needed";
  }
  for (int32_t i = 0; i < n; ++i) {
    if (!std::isfinite(x[i]) || !std::isfinite(y[i])) {
      const bool bad_x = !std::isfinite(x[i]);
      if (about != nullptr) {
        *about = {i, bad_x ? 'x' : 'y'};
      }
      return std::string(bad_x ? "x" : "y") + " of point " + std::to_string(i) +
             " is not finite (" + ShortNumber(bad_x ? x[i] : y[i]) + ")";
    }
    if (i > 0 && !(equal_x ? x[i] >= x[i - 1] : x[i] > x[i - 1])) {
      if (about != nullptr) {
        *about = {i, 'x'};
      }
      return (equal_x ? "x decreases at point "
                      : "x not increasing at point ") +
             std::to_string(i) + " (" + ShortNumber(x[i]) + " after " +
             ShortNumber(x[i - 1]) + ")";
    }
  }
  return {};
}

} // namespace knotfit
