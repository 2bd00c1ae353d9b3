// What the readers compute from a piecewise cubic besides its clamped value:
// S, S' and S'' with the extension beyond the knots that Extrapolation
// names, the integral, and the inverse lookup. Spline and Table run this for
// double and binary32 fields alike; knotfit/table.h and docs/read_table.py
// follow the same steps, so all of them give the same doubles.
//
// Knots may share an x (knots that collapsed in binary32): such a segment of
// zero width is never selected, as the search is for the first knot with
// x >= t, and the ends skip it where they need a segment.
//
// The fields of a table of the offset and double forms are relative to an
// origin (x0, y0): every result is then the local curve's at t - x0, S with
// y0 added, the integral with y0 times the width added, the inverse's roots
// sought over t - x0 and moved by x0. Each of these is one more rounding,
// taken in that order by every reader.
#ifndef KNOTFIT_LIB_CALCULUS_H
#define KNOTFIT_LIB_CALCULUS_H

#include "evaluate.h"
#include "knotfit/extrapolation.hpp"
#include "knotfit/table.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace knotfit {

// The origin of a table's relative fields.
struct Origin {
  double x0 = 0.0, y0 = 0.0;
};

// kAboutOrigin: the fields are relative to an origin. Without one (a fit, a
// classic table) no addition is made at all, 0 + -0 being +0; and the two
// are instances of their own, so that the classic path stays as lean as
// it was.
template <class T, bool kAboutOrigin = false> class Calculus {
public:
  explicit Calculus(const Pieces<T> &pieces, Origin origin = {})
      : p_(pieces), origin_(origin) {}

  // The derivative of the given order (0 for S itself, 1, 2) at t. At x[0]
  // and x[n-1] the derivatives are those from inside.
  double At(int order, double t, Extrapolation e) const {
    if constexpr (!kAboutOrigin) {
      return LocalAt(order, t, e);
    } else {
      const double local = LocalAt(order, t - origin_.x0, e);
      return order == 0 ? origin_.y0 + local : local;
    }
  }

  // The integral from lo to hi.
  double Integral(double lo, double hi, Extrapolation e) const {
    if constexpr (!kAboutOrigin) {
      return LocalIntegral(lo, hi, e);
    } else {
      return LocalIntegral(lo - origin_.x0, hi - origin_.x0, e) +
             origin_.y0 * (hi - lo);
    }
  }

  // Every r in [x[0], x[n-1]] where S(r) - v is 0 or changes sign between r
  // and a neighbouring double, in increasing order. On each segment the
  // zeros of S'' cut it into pieces where S' is monotone, the zeros of S'
  // found there into pieces where S is, and each of those holds one zero of
  // S - v at most; every zero is found by bisection. A segment on which S is
  // v throughout gives its two end knots.
  std::vector<double> Inverse(double v) const {
    std::vector<double> roots;
    if (std::isnan(v)) {
      return roots;
    }
    auto add = [&roots](double r) {
      if (roots.empty() || r > roots.back()) {
        roots.push_back(r);
      }
    };
    auto s = [this, v](double t) { return Clamped(t) - v; };
    for (std::size_t k = 0; k + 1 < p_.n; ++k) {
      if (!(p_.X(k) < p_.X(k + 1))) {
        continue; // zero width
      }
      const double left = Abscissa(k), right = Abscissa(k + 1);
      if (p_.a[k] == 0 && p_.b[k] == 0 && p_.c[k] == 0 && Level(p_.y[k]) == v) {
        add(left);
        add(right);
        continue;
      }
      // u on segment k at t, as At computes it.
      auto u = [this, k](double t) { return Local(t) - p_.X(k); };
      Cuts cuts{{left, right}, 2};
      cuts.Add([&](double t) { return Polynomial(2, k, u(t)); });
      cuts.Add([&](double t) { return Polynomial(1, k, u(t)); });
      for (std::size_t i = 0; i + 1 < cuts.count; ++i) {
        const double sl = s(cuts.at[i]);
        if (sl == 0) {
          add(cuts.at[i]);
        } else if (Opposite(sl, s(cuts.at[i + 1]))) {
          add(Zero(s, cuts.at[i], cuts.at[i + 1]));
        }
      }
    }
    const double last = Abscissa(p_.n - 1);
    if (s(last) == 0) {
      add(last);
    }
    return roots;
  }

private:
  // Knot k's abscissa, and S at t with the end ordinates beyond the knots:
  // x0 + x[k] and y0 + the fields' S at t - x0 about an origin.
  double Abscissa(std::size_t k) const {
    if constexpr (kAboutOrigin) {
      return origin_.x0 + p_.X(k);
    }
    return p_.X(k);
  }
  double Clamped(double t) const { return Level(p_.Value(Local(t))); }

  // An abscissa as the fields have it, and an ordinate of theirs as S has
  // it.
  double Local(double t) const {
    if constexpr (kAboutOrigin) {
      return t - origin_.x0;
    }
    return t;
  }
  double Level(double y) const {
    if constexpr (kAboutOrigin) {
      return origin_.y0 + y;
    }
    return y;
  }

  // At, Integral of the curve of the fields as they are.
  double LocalAt(int order, double t, Extrapolation e) const {
    if (std::isnan(t)) {
      return NAN;
    }
    if (t < First() || t > Last()) {
      return Beyond(order, t < First() ? 0 : p_.n - 1, t, e);
    }
    if (order == 0) {
      return p_.Value(t);
    }
    if (!HasSegment()) {
      return 0.0; // a single point
    }
    const std::size_t k = t == First() ? FirstSegment() : p_.SegmentOf(t);
    return Polynomial(order, k, t - p_.X(k));
  }

  // The integral from lo to hi: the part before x[0], the segments, each
  // from its own knot, then the part after x[n-1].
  double LocalIntegral(double lo, double hi, Extrapolation e) const {
    if (hi < lo) {
      return -LocalIntegral(hi, lo, e);
    }
    if (std::isnan(lo) || std::isnan(hi)) {
      return NAN;
    }
    double sum = 0.0;
    if (lo < First()) {
      sum += BeyondIntegral(0, lo, std::min(hi, First()), e);
    }
    double from = std::max(lo, First());
    const double to = std::min(hi, Last());
    if (from < to) {
      for (std::size_t k = p_.SegmentOf(from);; ++k) {
        const double end = std::min(to, p_.X(k + 1));
        sum += Primitive(k, end - p_.X(k)) - Primitive(k, from - p_.X(k));
        if (end == to) {
          break;
        }
        from = end;
      }
    }
    if (hi > Last()) {
      sum += BeyondIntegral(p_.n - 1, std::max(lo, Last()), hi, e);
    }
    return sum;
  }

  double First() const { return p_.X(0); }
  double Last() const { return p_.X(p_.n - 1); }
  bool HasSegment() const { return First() < Last(); }

  // The segments at the ends that have a width: the first after x[0], the
  // last before x[n-1]. Only for HasSegment().
  std::size_t FirstSegment() const {
    const T *after = std::upper_bound(p_.x + 1, p_.x + p_.n - 1, p_.x[0]);
    return static_cast<std::size_t>(after - p_.x) - 1;
  }
  std::size_t LastSegment() const { return p_.SegmentOf(Last()); }

  // S, S' = a + 2bu + 3cu^2 or S'' = 2b + 6cu on segment k at u = t - x[k],
  // in Horner form.
  double Polynomial(int order, std::size_t k, double u) const {
    if (order == 0) {
      return p_.Cubic(k, u);
    }
    const double ak = p_.a[k], bk = p_.b[k], ck = p_.c[k];
    if (order == 1) {
      return ak + ((bk + bk) + (ck * 3.0) * u) * u;
    }
    return (bk + bk) + (ck * 6.0) * u;
  }

  // The integral of segment k from x[k] to x[k] + u:
  // y*u + a*u^2/2 + b*u^3/3 + c*u^4/4, in Horner form.
  double Primitive(std::size_t k, double u) const {
    const double ak = p_.a[k], bk = p_.b[k], ck = p_.c[k], yk = p_.y[k];
    return (((ck / 4.0 * u + bk / 3.0) * u + ak / 2.0) * u + yk) * u;
  }

  // The extension beyond the end knot `end` (0 or n-1) at t. Without a
  // segment of some width, cubic is linear.
  double Beyond(int order, std::size_t end, double t, Extrapolation e) const {
    const double ye = p_.y[end], ae = p_.a[end];
    if (e == Extrapolation::kCubic && HasSegment()) {
      const std::size_t k = end == 0 ? FirstSegment() : LastSegment();
      return Polynomial(order, k, t - p_.X(k));
    }
    if (e == Extrapolation::kLinear || e == Extrapolation::kCubic) {
      return order == 0 ? ae * (t - p_.X(end)) + ye : order == 1 ? ae : 0.0;
    }
    if (e == Extrapolation::kNan) {
      return NAN;
    }
    return order == 0 ? ye : 0.0;
  }

  // The integral of the extension beyond the end knot `end` from p to q.
  double BeyondIntegral(std::size_t end, double p, double q,
                        Extrapolation e) const {
    const double ye = p_.y[end], ae = p_.a[end];
    if (e == Extrapolation::kCubic && HasSegment()) {
      const std::size_t k = end == 0 ? FirstSegment() : LastSegment();
      return Primitive(k, q - p_.X(k)) - Primitive(k, p - p_.X(k));
    }
    if (e == Extrapolation::kLinear || e == Extrapolation::kCubic) {
      auto line = [ye, ae](double u) { return (ae / 2.0 * u + ye) * u; };
      return line(q - p_.X(end)) - line(p - p_.X(end));
    }
    if (e == Extrapolation::kNan) {
      return NAN;
    }
    return ye * (q - p);
  }

  // The points that cut a segment: its ends and the zeros found so far.
  struct Cuts {
    double at[5];
    std::size_t count;

    // Adds a zero of g in each piece where g changes sign.
    template <class G> void Add(G g) {
      for (std::size_t i = 0; i + 1 < count; ++i) {
        if (Opposite(g(at[i]), g(at[i + 1]))) {
          std::copy_backward(at + i + 1, at + count, at + count + 1);
          at[i + 1] = Zero(g, at[i], at[i + 2]);
          ++count;
          ++i;
        }
      }
    }
  };

  static bool Opposite(double p, double q) {
    return (p < 0 && q > 0) || (p > 0 && q < 0);
  }

  // A zero of g between lo and hi, where g has opposite signs: bisection
  // down to neighbouring doubles, then the one where |g| is smaller (lo on
  // a tie), unless a midpoint hits 0.
  template <class G> static double Zero(G g, double lo, double hi) {
    const bool lo_negative = g(lo) < 0;
    for (;;) {
      const double mid = (lo + hi) / 2;
      if (!(lo < mid && mid < hi)) {
        break;
      }
      const double gm = g(mid);
      if (gm == 0) {
        return mid;
      }
      if ((gm < 0) == lo_negative) {
        lo = mid;
      } else {
        hi = mid;
      }
    }
    return std::fabs(g(hi)) < std::fabs(g(lo)) ? hi : lo;
  }

  const Pieces<T> &p_;
  Origin origin_;
};

// The value at t, clamped, of a table's fields as the double readers of its
// form read them: binary64 (wide) or binary32 (narrow) about the origin, or
// binary32 as they stand (classic).
inline double StoredAt(TableForm form, const Pieces<float> &narrow,
                       const Pieces<double> &wide, Origin origin, double t) {
  if (form == TableForm::kDouble) {
    return Calculus<double, true>(wide, origin).At(0, t, Extrapolation::kClamp);
  }
  if (form == TableForm::kOffset) {
    return Calculus<float, true>(narrow, origin)
        .At(0, t, Extrapolation::kClamp);
  }
  return Calculus<float>(narrow).At(0, t, Extrapolation::kClamp);
}

} // namespace knotfit

#endif
