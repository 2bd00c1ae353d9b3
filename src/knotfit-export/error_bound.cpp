#include "error_bound.h"

#include "cmsis_layout.h"

#include <knotfit/table.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <limits>

namespace {

// Unit roundoffs and the smallest subnormals of binary32 and binary64.
constexpr double kEps32 = 0x1p-24, kEps64 = 0x1p-53;
constexpr double kTiny32 = 0x1p-149, kTiny64 = 0x1p-1074;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The samples of the whole range, as a total: each segment gets its share,
// at least kLeastPerSegment, at most kMostPerSegment.
constexpr std::size_t kSamples = std::size_t{1} << 21;
constexpr std::size_t kLeastPerSegment = 2, kMostPerSegment = 4096;

// gamma_n = n u / (1 - n u): the relative error of n roundings in a row.
double Gamma(int n, double eps) {
  return n * eps / (1 - n * eps);
}

// One segment's cubic y + a u + b u^2 + c u^3, as real numbers.
struct Cubic {
  double y, a, b, c;
};

// |y| + |a| w + |b| w^2 + |c| w^3: a bound of |cubic| for |u| <= w.
double Size(const Cubic &p, double w) {
  return std::fabs(p.y) + std::fabs(p.a) * w + std::fabs(p.b) * w * w +
         std::fabs(p.c) * w * w * w;
}

// A bound of |cubic'| for |u| <= w.
double Slope(const Cubic &p, double w) {
  return std::fabs(p.a) + 2 * std::fabs(p.b) * w + 3 * std::fabs(p.c) * w * w;
}

// The rounding error of ((a*u + y) + (b*u)*u) + ((c*u)*u)*u, u = t - x[k]
// itself rounded once, for |u| <= w, in a binary format of unit roundoff
// eps: y passes the three sums; a u the rounding of u, its product and the
// three sums (5); b u^2 two roundings of u, two products, two sums (6);
// c u^3 three of u, three products, one sum (7). Each of the ten operations
// may instead underflow, an absolute error of half a subnormal, at most
// multiplied by u three times after. Infinite where a term may overflow.
double CubicRounding(const Cubic &p, double w, double eps, double tiny,
                     double largest) {
  if (p.a == 0 && p.b == 0 && p.c == 0) {
    return 0; // y plus zeros: exact
  }
  const double wide = std::max(w, 1.0);
  if (Size(p, wide) * (1 + 8 * eps) > largest / 2) {
    return kInfinity;
  }
  return Gamma(3, eps) * std::fabs(p.y) + Gamma(5, eps) * std::fabs(p.a) * w +
         Gamma(6, eps) * std::fabs(p.b) * w * w +
         Gamma(7, eps) * std::fabs(p.c) * w * w * w +
         10 * tiny * wide * wide * wide;
}

// The tables' grouping, in double (as evaluate.h's CubicAt).
double CubicAt(const Cubic &p, double u) {
  return ((p.a * u + p.y) + (p.b * u) * u) + ((p.c * u) * u) * u;
}

Cubic TableCubic(const ExportedTable &e, std::size_t k) {
  const Columns &f = e.fields;
  return {f[1][k], f[2][k], f[3][k], f[4][k]};
}

Cubic Minus(const Cubic &p, const Cubic &q) {
  return {p.y - q.y, p.a - q.a, p.b - q.b, p.c - q.c};
}

// The exported arithmetic on one segment: its cubic (the exported fields as
// real numbers, about its own knot), the width it is evaluated over, how
// far that knot is from the table's, and the bound of its rounding.
struct Exported {
  Cubic cubic;
  double width, shift, rounding;
};

// Float: the binary32 fields in float arithmetic.
Exported FloatSegment(const ExportedTable &e, std::size_t k) {
  const auto &f = e.floats;
  const Cubic q{f[1][k], f[2][k], f[3][k], f[4][k]};
  const double width = static_cast<double>(f[0][k + 1]) - f[0][k];
  const double shift = std::max(std::fabs(f[0][k] - e.fields[0][k]),
                                std::fabs(f[0][k + 1] - e.fields[0][k + 1]));
  return {q, width, shift, CubicRounding(q, width, kEps32, kTiny32, FLT_MAX)};
}

// Whether Shift(v, r) floors away bits that are not 0.
bool Drops(int64_t v, int r) {
  if (r <= 0) {
    return false;
  }
  return r >= 63 ? v != 0 : (v & ((int64_t{1} << r) - 1)) != 0;
}

// Fixed point (Evaluate of fixed_point.cpp): every step's two floors lose
// less than a unit of its scale each, where they drop bits (h u none while
// h is still 0); c is exact, and the error of h is multiplied by u in every
// step after.
Exported FixedSegment(const ExportedTable &e, std::size_t k) {
  const FixedTable &q = *e.fixed;
  auto real = [&q](std::size_t c, std::size_t at) {
    return std::ldexp(static_cast<double>(q.q[c][at]), -q.frac[c]);
  };
  const double width = real(0, k + 1) - real(0, k);
  const int fx = q.frac[0];
  // Per step: the shift of the coefficient and that of h u.
  const int shifts[3][2] = {
      {q.frac[3] - q.steps[0], q.frac[4] + fx - q.steps[0]},
      {q.frac[2] - q.steps[1], q.steps[0] + fx - q.steps[1]},
      {q.frac[1] - q.steps[2], q.steps[1] + fx - q.steps[2]}};
  const std::size_t coefficients[3] = {3, 2, 1};
  bool nonzero = q.q[4][k] != 0;
  double h = 0;
  for (std::size_t j = 0; j < 3; ++j) {
    const double unit = std::ldexp(1.0, -q.steps[j]);
    const int64_t coefficient = q.q[coefficients[j]][k];
    h = h * width + (Drops(coefficient, shifts[j][0]) ? unit : 0.0) +
        (nonzero && shifts[j][1] > 0 ? unit : 0.0);
    nonzero = nonzero || coefficient != 0;
  }
  const double shift = std::max(std::fabs(real(0, k) - e.fields[0][k]),
                                std::fabs(real(0, k + 1) - e.fields[0][k + 1]));
  return {{real(1, k), real(2, k), real(3, k), real(4, k)}, width, shift, h};
}

// A bound of |exported - table| over the table's range, segment by
// segment. On segment k the exported code evaluates its own cubic at its
// own u, whose distance from the table's u is at most delta: the rounding
// of the argument (to float, or to the x column's scale) and the shift of
// the knot. So at x it differs from the table's cubic by its rounding, the
// fields' difference, and the table's change over delta; near a knot the
// two may take neighbouring segments, which adds the jump of the table at
// every knot within delta (the binary32 fields are continuous only to
// their rounding). The table's own value is rounded too, in double.
double Bound(const ExportedTable &e, bool fixed) {
  const Columns &f = e.fields;
  const std::size_t n = f[0].size();
  // The end ordinates, as exported: what it gives beyond the ends.
  auto end_error = [&](std::size_t k) {
    if (!fixed) {
      return std::fabs(e.floats[1][k] - f[1][k]);
    }
    const FixedTable &q = *e.fixed;
    return std::fabs(std::ldexp(static_cast<double>(q.q[1][k]), -q.frac[1]) -
                     f[1][k]) +
           (Drops(q.q[1][k], q.frac[1] - q.value_frac())
                ? std::ldexp(1.0, -q.value_frac())
                : 0.0);
  };
  if (n < 2 || !(f[0][0] < f[0][n - 1])) {
    return end_error(0); // one abscissa, where both give y of knot 0
  }
  std::vector<double> width(n - 1), rounding(n - 1), jump(n, 0.0);
  for (std::size_t k = 0; k + 1 < n; ++k) {
    width[k] = (f[0][k + 1] - f[0][k]) * (1 + 4 * kEps64);
    rounding[k] =
        CubicRounding(TableCubic(e, k), width[k], kEps64, kTiny64, DBL_MAX);
    // The cubic at its far end, from the knot after it: rounded in double,
    // at a width itself rounded.
    const Cubic p = TableCubic(e, k);
    const double end = CubicAt(p, f[0][k + 1] - f[0][k]);
    jump[k + 1] = std::fabs(end - f[1][k + 1]) + rounding[k] +
                  Slope(p, width[k]) * kEps64 * width[k];
  }
  // How far the exported argument may be from the table's: its rounding
  // (to float, relative to the abscissa's size, or to the x column's
  // scale) and the shift of the knot.
  auto delta_of = [&](double reach, double shift) {
    return shift + (fixed ? std::ldexp(1.0, -e.fixed->frac[0] - 1)
                          : kEps32 * reach * (1 + 0x1p-20) + kTiny32);
  };
  // What the table's value does within delta of knots first to last: from
  // one abscissa to another there is a path of length delta at most, over
  // its cubics (each continued past its ends by delta) and across its
  // jumps at the knots there; and its own rounding.
  auto near = [&](std::size_t first, std::size_t last, double delta) {
    std::size_t lo = first, hi = last;
    while (lo > 0 && f[0][first] - f[0][lo - 1] <= delta) {
      --lo;
    }
    while (hi + 1 < n && f[0][hi + 1] - f[0][last] <= delta) {
      ++hi;
    }
    double slope = 0, rounded = 0, jumps = 0;
    for (std::size_t j = lo > 0 ? lo - 1 : 0; j <= std::min(hi, n - 2); ++j) {
      slope = std::max(slope, Slope(TableCubic(e, j), width[j] + delta));
      rounded = std::max(rounded, rounding[j]);
    }
    for (std::size_t j = lo; j <= hi; ++j) {
      jumps += jump[j];
    }
    return rounded + slope * delta + jumps;
  };
  // y0 + (S - y0), rounded once in double in both, where about an origin.
  auto origin = [&](double b, double size) {
    return e.origin() ? b + 2 * kEps64 * (std::fabs(e.table.y0()) + size + b)
                      : b;
  };
  double worst = 0;
  // Where the argument rounds to an end knot or beyond, the exported code
  // gives its end ordinate.
  for (const std::size_t end : {std::size_t{0}, n - 1}) {
    const double stored =
        fixed ? std::ldexp(static_cast<double>(e.fixed->q[0][end]),
                           -e.fixed->frac[0])
              : e.floats[0][end];
    const double delta =
        delta_of(std::fabs(f[0][end]), std::fabs(stored - f[0][end]));
    const double b = end_error(end) + near(end, end, delta);
    worst = std::max(worst, origin(b, std::fabs(f[1][end]) + b));
  }
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const Exported x = fixed ? FixedSegment(e, k) : FloatSegment(e, k);
    if (!(x.width > 0)) {
      continue; // collapsed: never evaluated
    }
    const double delta =
        delta_of(std::max(std::fabs(f[0][k]), std::fabs(f[0][k + 1])), x.shift);
    const double reach = std::max(x.width, width[k]) + delta;
    const Cubic p = TableCubic(e, k);
    const double b =
        x.rounding + Size(Minus(x.cubic, p), reach) + near(k, k + 1, delta);
    worst = std::max(worst, origin(b, Size(p, reach)));
  }
  // The bound's own arithmetic rounds: a little room.
  return worst * (1 + 0x1p-40);
}

} // namespace

double ExportedValue(const ExportedTable &e, const std::string &type, double x,
                     unsigned fused) {
  if (type == "cmsis") {
    return CmsisValue(e, static_cast<float>(x), fused); // classic: no origin
  }
  if (!e.fixed && type != "float") {
    return e.table.value(x); // double, and the exact texts of JSON and CSV
  }
  const double at = e.origin() ? x - e.table.x0() : x;
  double local = 0;
  if (e.fixed) {
    local = std::ldexp(
        static_cast<double>(Evaluate(*e.fixed, FixedArgument(*e.fixed, at))),
        -e.fixed->value_frac());
  } else {
    const auto &f = e.floats;
    local = knotfit_table_valuef(
        static_cast<float>(at), static_cast<int32_t>(e.table.size()),
        f[0].data(), f[1].data(), f[2].data(), f[3].data(), f[4].data());
  }
  return e.origin() ? e.table.y0() + local : local;
}

Difference LargestDifference(const ExportedTable &e, const std::string &type) {
  const knotfit::Table &t = e.table;
  const std::vector<double> &knots = e.fields[0];
  const std::size_t n = knots.size();
  const double x0 = e.origin() ? t.x0() : 0.0;
  Difference d{0, 0, x0 + knots.front()};
  const unsigned ways = type == "cmsis" ? 8 : 1;
  auto sample = [&](double x) {
    const double value = t.value(x);
    for (unsigned fused = 0; fused < ways; ++fused) {
      const double diff = std::fabs(ExportedValue(e, type, x, fused) - value);
      if (diff > d.sampled) {
        d.sampled = diff;
        d.at = x;
      }
    }
  };
  // The knots, the plot file's abscissas, and points spread evenly over
  // every segment.
  for (const double x : knots) {
    sample(x0 + x);
  }
  const double first = x0 + knots.front(), last = x0 + knots.back();
  const auto step =
      static_cast<double>(static_cast<float>((last - first) / 500.0));
  for (double x = first; x <= last && (x == first || step > 0); x += step) {
    sample(x);
    if (x + step == x) {
      break;
    }
  }
  const std::size_t per = std::clamp(kSamples / std::max<std::size_t>(n, 1),
                                     kLeastPerSegment, kMostPerSegment);
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const double w = knots[k + 1] - knots[k];
    for (std::size_t j = 1; j < per && w > 0; ++j) {
      sample(x0 + (knots[k] +
                   w * static_cast<double>(j) / static_cast<double>(per)));
    }
  }
  // arm_spline_f32's formula is the float code's grouping on the same
  // binary32 fields (a classic table's), so float's bound holds for it
  // too: a fused multiply-add rounds once where the two operations it
  // replaces round twice, so every term passes fewer roundings than
  // unfused, and fewer operations may underflow; where it takes the
  // segment left of a knot instead of the right one, the two differ by the
  // jump there, which the bound has within the argument's rounding of a
  // knot; its end segments reach the end knots, and at x of knot 0 it gives
  // y of knot 0, as the float code does.
  const bool fixed = e.fixed.has_value();
  d.bound = fixed || type == "float" || type == "cmsis" ? Bound(e, fixed) : 0.0;
  return d;
}
