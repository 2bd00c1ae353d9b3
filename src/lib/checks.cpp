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

std::string NarrowingProblem(int32_t n, const double *x, const double *y,
                             const double *a, const double *b,
                             const double *c) {
  // Field by field, the given values before the derived ones: a y that
  // binary32 cannot hold is the cause, the slopes it makes overflow are only
  // the effect. (Narrowing such a value in C++ is undefined: it is compared
  // against the first value that rounds to infinity instead.)
  const double *const fields[5] = {x, y, a, b, c};
  static const char *const kNames[5] = {"x", "y", "a", "b", "c"};
  for (int k = 0; k < 5; ++k) {
    for (int32_t i = 0; fields[k] != nullptr && i < n; ++i) {
      if (!(std::fabs(fields[k][i]) < kBinary32Overflow)) {
        return Binary32FieldProblem(kNames[k], i, fields[k][i]);
      }
    }
  }
  return {};
}

std::string Binary32FieldProblem(const char *field, int32_t i, double v) {
  if (std::fabs(v) < kBinary32Overflow) {
    return {};
  }
  const std::string which =
      std::string(field) + " of point " + std::to_string(i);
  if (std::isfinite(v)) {
    return which + " (" + ShortNumber(v) + ") overflows binary32";
  }
  return which + " is not finite (" + ShortNumber(v) + ")";
}

std::string CollapsedKnots(int32_t n, const double *x) {
  // Rounding keeps the order of the abscissas but can merge neighbours.
  for (int32_t i = 1; i < n; ++i) {
    const auto low = static_cast<float>(x[i - 1]);
    if (!(static_cast<float>(x[i]) > low)) {
      return "x of points " + std::to_string(i - 1) + " and " +
             std::to_string(i) + " are both " + ShortBinary32(low) +
             " in binary32";
    }
  }
  return {};
}

namespace {

// The shortest text that reads back as v, in v's own type.
template <class T> std::string Shortest(T v) {
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

} // namespace

std::string ShortNumber(double v) {
  return Shortest(v);
}

std::string ShortBinary32(float v) {
  return Shortest(v);
}

} // namespace knotfit
