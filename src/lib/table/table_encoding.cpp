#include "table_encoding.h"

#include "../exact_math.h"
#include "../text/short_numbers.h"

namespace knotfit {

std::string FieldProblem(const char *field, int32_t i, double v) {
  if (FitsBinary32(v)) {
    return {};
  }
  const std::string which =
      std::string(field) + " of point " + std::to_string(i);
  if (std::isfinite(v)) {
    return which + " (" + ShortNumber(v) + ") overflows binary32";
  }
  return which + " is not finite (" + ShortNumber(v) + ")";
}

std::string TableProblem(const TableFields &t, ProblemPoint *about) {
  const double *const fields[5] = {t.x, t.y, t.a, t.b, t.c};
  static const char *const kNames[5] = {"x", "y", "a", "b", "c"};
  for (int k = 0; k < 5; ++k) {
    for (int32_t i = 0; fields[k] != nullptr && i < t.n; ++i) {
      if (!FitsBinary32(fields[k][i])) {
        if (about != nullptr) {
          *about = {i, *kNames[k]};
        }
        return FieldProblem(kNames[k], i, fields[k][i]);
      }
    }
  }
  return {};
}

std::string CollapsedKnots(int32_t n, const double *x, ProblemPoint *about) {
  // Rounding keeps the order of the abscissas but can merge neighbours.
  for (int32_t i = 1; i < n; ++i) {
    const float low = Narrow(x[i - 1]);
    if (!(Narrow(x[i]) > low)) {
      if (about != nullptr) {
        *about = {i, 'x'};
      }
      return "x of points " + std::to_string(i - 1) + " and " +
             std::to_string(i) + " are both " + ShortBinary32(low) +
             " in binary32";
    }
  }
  return {};
}

} // namespace knotfit
