#include "table_encoding.h"

#include "../exact_math.h"
#include "../text/short_numbers.h"

namespace knotfit {

std::string FieldProblem(const char *field, int32_t i, double v,
                         bool binary64) {
  if (binary64 ? std::isfinite(v) : FitsBinary32(v)) {
    return {};
  }
  const std::string which =
      std::string(field) + " of point " + std::to_string(i);
  if (std::isfinite(v)) {
    return which + " (" + ShortNumber(v) + ") overflows binary32";
  }
  return which + " is not finite (" + ShortNumber(v) + ")";
}

std::string TableProblem(const TableFields &t, ProblemPoint *about,
                         TableForm form) {
  const double *const fields[5] = {t.x, t.y, t.a, t.b, t.c};
  const bool classic = form == TableForm::kClassic;
  const double origin[5] = {t.x0, t.y0, 0.0, 0.0, 0.0};
  static const char *const kNames[5] = {"x", "y", "a", "b", "c"};
  static const char *const kRelative[2] = {"x - x0", "y - y0"};
  for (int k = 0; k < 5; ++k) {
    const char *name = classic || k > 1 ? kNames[k] : kRelative[k];
    for (int32_t i = 0; fields[k] != nullptr && i < t.n; ++i) {
      // The classic form stores x and y as they are, the others relative to
      // the origin; a, b, c always as they are.
      const double v =
          classic || k > 1 ? fields[k][i] : fields[k][i] - origin[k];
      const bool binary64 = form == TableForm::kDouble;
      if (binary64 ? std::isfinite(v) : FitsBinary32(v)) {
        continue; // as FieldProblem finds, without making its text
      }
      if (about != nullptr) {
        *about = {i, *kNames[k]};
      }
      return FieldProblem(name, i, v, binary64);
    }
  }
  // As every reader requires: x0 + x, and the span of the knots, as stored
  // (x increases, so the end knots decide).
  if (!classic && t.n > 0) {
    auto stored = [&t, form](int32_t i) {
      const double v = t.x[i] - t.x0;
      return form == TableForm::kDouble ? v : static_cast<double>(Narrow(v));
    };
    const double first = t.x0 + stored(0), last = t.x0 + stored(t.n - 1);
    if (!std::isfinite(last - first)) {
      const int32_t i = std::isfinite(first) ? t.n - 1 : 0;
      if (about != nullptr) {
        *about = {i, 'x'};
      }
      return "x - x0 of point " + std::to_string(i) + " (" +
             ShortNumber(stored(i)) +
             "): x0 + x or the knots' span overflows a double";
    }
  }
  return {};
}

std::string CollapsedKnots(int32_t n, const double *x, ProblemPoint *about,
                           TableForm form, double x0) {
  // Rounding keeps the order of the abscissas, and so does subtracting one
  // origin from all, but either can merge neighbours.
  const bool classic = form == TableForm::kClassic;
  const bool wide = form == TableForm::kDouble;
  auto stored = [&](int32_t i) {
    const double v = classic ? x[i] : x[i] - x0;
    return wide ? v : static_cast<double>(Narrow(v));
  };
  for (int32_t i = 1; i < n; ++i) {
    const double low = stored(i - 1);
    if (!(stored(i) > low)) {
      if (about != nullptr) {
        *about = {i, 'x'};
      }
      return std::string(classic ? "x" : "x - x0") + " of points " +
             std::to_string(i - 1) + " and " + std::to_string(i) +
             " are both " +
             (wide ? ShortNumber(low) + " in binary64"
                   : ShortBinary32(static_cast<float>(low)) + " in binary32");
    }
  }
  return {};
}

} // namespace knotfit
