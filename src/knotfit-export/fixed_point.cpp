#include "fixed_point.h"

#include "knotfit_internal.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr const char *kFieldNames[5] = {"x", "y", "a", "b", "c"};

// Whether every value of column times 2^frac, rounded, is a bits-wide
// integer.
bool Fits(const std::vector<double> &column, int frac, int bits) {
  const double top = std::ldexp(1.0, bits - 1);
  return std::all_of(column.begin(), column.end(), [&](double v) {
    const double r = std::nearbyint(std::ldexp(v, frac));
    return r >= -top && r < top;
  });
}

} // namespace

int64_t Shift(int64_t v, int r) {
  if (r >= 63) {
    return v < 0 ? -1 : 0;
  }
  return r >= 0 ? v >> r : v * (int64_t{1} << -r);
}

FixedTable Quantize(const Columns &columns, bool wide, int bits) {
  FixedTable f;
  f.bits = bits;
  const int most = 2 * bits - 2; // fraction bits; shifts stay below 63
  for (std::size_t c = 0; c < 5; ++c) {
    const std::vector<double> &column = columns[c];
    int frac = most;
    while (frac >= 0 && !Fits(column, frac, bits)) {
      --frac;
    }
    if (frac < 0) {
      const auto widest = std::max_element(
          column.begin(), column.end(),
          [](double p, double q) { return std::fabs(p) < std::fabs(q); });
      throw knotfit::Error(
          std::string(kFieldNames[c]) + " of knot " +
          std::to_string(widest - column.begin()) + " (" +
          (wide ? knotfit::detail::ShortNumber(*widest)
                : knotfit::detail::ShortBinary32(static_cast<float>(*widest))) +
          ") does not fit i" + std::to_string(bits) + " at any scale");
    }
    f.frac[c] = frac;
    for (const double v : column) {
      f.q[c].push_back(
          static_cast<int64_t>(std::nearbyint(std::ldexp(v, frac))));
    }
  }
  // Bounds of |h| as real numbers on each segment, step after step.
  const std::size_t n = columns[0].size();
  auto real = [&f](std::size_t c, std::size_t k) {
    return std::ldexp(std::fabs(static_cast<double>(f.q[c][k])), -f.frac[c]);
  };
  std::vector<double> h(n), next(n);
  for (std::size_t k = 0; k < n; ++k) {
    h[k] = real(4, k);
  }
  const double limit = std::ldexp(1.0, bits - 1) - 3; // 2 for the floors
  const std::size_t coefficients[3] = {3, 2, 1};
  for (std::size_t j = 0; j < 3; ++j) {
    const std::size_t c = coefficients[j];
    double widest = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const double width =
          k + 1 < n ? std::ldexp(static_cast<double>(f.q[0][k + 1] - f.q[0][k]),
                                 -f.frac[0])
                    : 0.0;
      next[k] = (real(c, k) + h[k] * width) * (1 + 0x1p-40);
      widest = std::max(widest, next[k]);
    }
    int q = c == 1 ? f.frac[1] : most;
    while (std::ldexp(widest, q) > limit) {
      --q;
    }
    f.steps[j] = q;
    for (std::size_t k = 0; k < n; ++k) {
      h[k] = next[k] + std::ldexp(2.0, -q);
    }
  }
  return f;
}

int64_t FixedArgument(const FixedTable &f, double x) {
  const double top = std::ldexp(1.0, f.bits - 1);
  const double r = std::nearbyint(std::ldexp(x, f.frac[0]));
  return static_cast<int64_t>(std::clamp(r, -top, top - 1));
}

int64_t Evaluate(const FixedTable &f, int64_t x) {
  const std::vector<int64_t> &xs = f.q[0], &ys = f.q[1];
  const std::size_t n = xs.size();
  if (x <= xs[0] || x >= xs[n - 1]) {
    return Shift(ys[x <= xs[0] ? 0 : n - 1], f.frac[1] - f.value_frac());
  }
  std::size_t lo = 0, hi = n - 1; // xs[lo] < x <= xs[hi]
  while (hi - lo > 1) {
    const std::size_t mid = lo + (hi - lo) / 2;
    (xs[mid] < x ? lo : hi) = mid;
  }
  const int64_t u = x - xs[lo];
  int64_t h = f.q[4][lo];
  int scale = f.frac[4];
  const std::size_t coefficients[3] = {3, 2, 1};
  for (std::size_t j = 0; j < 3; ++j) {
    const std::size_t c = coefficients[j];
    h = Shift(f.q[c][lo], f.frac[c] - f.steps[j]) +
        Shift(h * u, scale + f.frac[0] - f.steps[j]);
    scale = f.steps[j];
  }
  return h;
}
