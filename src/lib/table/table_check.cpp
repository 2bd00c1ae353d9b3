#include "table_check.h"

#include "../evaluate/calculus.h"
#include "../evaluate/evaluate.h"
#include "../evaluate/turning_points.h"
#include "../text/short_numbers.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>

namespace knotfit {
namespace {

// The fit's least and greatest y, which set both the origin of the offset
// and double forms and what the tolerance is relative to.
struct Range {
  explicit Range(const TableFields &f) {
    const auto [low, high] = std::minmax_element(f.y, f.y + f.n);
    lo = *low;
    hi = *high;
  }
  double lo, hi;
  // The y range, or for level data their magnitude.
  double Scale() const {
    if (hi > lo) {
      return hi - lo;
    }
    const double size = std::max(std::fabs(lo), std::fabs(hi));
    return size > 0.0 ? size : 1.0;
  }
};

// A fit's fields as a table of the form stores them, widened back to
// double: what its readers compute with. The offset form rounds x - x0 and
// y - y0, not x and y; the double form rounds nothing.
struct Stored {
  TableForm form;
  double x0 = 0.0, y0 = 0.0;
  bool classic() const { return form == TableForm::kClassic; }
  double Field(double v) const {
    return form == TableForm::kDouble ? v : static_cast<double>(Narrow(v));
  }
  double X(double x) const { return classic() ? Field(x) : x0 + Field(x - x0); }
  double Y(double y) const { return classic() ? Field(y) : y0 + Field(y - y0); }
};

// The first field of y, a, b, c that is not zero but narrows to a subnormal
// or to zero in binary32 (y - y0 in the offset form); empty when there is
// none, as always in the double form.
std::string Underflow(const TableFields &f, const Stored &form) {
  if (form.form == TableForm::kDouble) {
    return {};
  }
  const double *fields[4] = {f.y, f.a, f.b, f.c};
  static const char *const kNames[4] = {"y", "a", "b", "c"};
  for (std::size_t k = 0; k < 4; ++k) {
    for (int32_t i = 0; i < f.n; ++i) {
      const double v = fields[k][i] - (k == 0 ? form.y0 : 0.0);
      if (v == 0.0 || !FitsBinary32(v)) {
        continue;
      }
      const auto narrowed = static_cast<float>(v);
      if (narrowed == 0.0f || !std::isnormal(narrowed)) {
        const char *name = k == 0 && !form.classic() ? "y - y0" : kNames[k];
        return std::string(name) + " of knot " + std::to_string(i) + " (" +
               ShortNumber(v) + ") narrows to " +
               (narrowed == 0.0f ? "zero" : "a subnormal");
      }
    }
  }
  return {};
}

// T - S on a piece of segment k of S, where T is the table's curve, whose
// segment j there has the fields x, y, a, b, c as its form stores them:
// expanded about S's knot, T - S = D0 + D1*u + D2*u^2 + D3*u^3 with u = t -
// x[k].
struct Difference {
  double d[4];
  double At(double u) const {
    return d[0] + u * (d[1] + u * (d[2] + u * d[3]));
  }
};

// T's knots are S's rounded, so within S's segment k T may still be on its
// segment k-1 (up to X[k], S's x[k] rounded, when that lies above x[k]) and
// already on its segment k+1 (from X[k+1], when that lies below x[k+1]):
// up to three parts, on each of which T - S is one cubic. Before X[0] and
// after X[n-1] T is flat, its end value (segment -1 and n-1 below). Knots
// that collapsed are found before this is needed; otherwise X[k] <= x[k+1]
// and X[k+1] >= x[k], since rounding keeps order.
struct Part {
  double from, to; // u = t - x[k]
  Difference diff;
};

Difference DifferenceOn(const TableFields &s, const Stored &form, int32_t k,
                        int32_t j) {
  if (j < 0 || j == s.n - 1) {
    const double end = form.Y(j < 0 ? s.y[0] : s.y[s.n - 1]);
    return {{end - s.y[k], -s.a[k], -s.b[k], -s.c[k]}};
  }
  const double d = s.x[k] - form.X(s.x[j]);
  const double at = form.Field(s.a[j]), bt = form.Field(s.b[j]),
               ct = form.Field(s.c[j]);
  return {{(form.Y(s.y[j]) - s.y[k]) + at * d + bt * d * d + ct * d * d * d,
           (at - s.a[k]) + 2.0 * bt * d + 3.0 * ct * d * d,
           (bt - s.b[k]) + 3.0 * ct * d, ct - s.c[k]}};
}

// At most three parts, in order.
struct Parts {
  Part p[3];
  std::size_t n = 0;
  const Part *begin() const { return p; }
  const Part *end() const { return p + n; }
};

Parts PartsOf(const TableFields &s, const Stored &form, int32_t k) {
  const double x0 = s.x[k], h = s.x[k + 1] - x0;
  const double lo = form.X(x0) - x0;
  const double hi = form.X(s.x[k + 1]) - x0;
  Parts parts;
  if (lo > 0.0) {
    parts.p[parts.n++] = {0.0, lo, DifferenceOn(s, form, k, k - 1)};
  }
  parts.p[parts.n++] = {std::max(lo, 0.0), std::min(hi, h),
                        DifferenceOn(s, form, k, k)};
  if (hi < h) {
    parts.p[parts.n++] = {hi, h, DifferenceOn(s, form, k, k + 1)};
  }
  return parts;
}

// Where |T - S| may peak on a part: its ends and where D' is zero.
struct Candidates {
  explicit Candidates(const Part &p) {
    const Difference &d = p.diff;
    u[n++] = p.from;
    u[n++] = p.to;
    for (const double r :
         RootsWithin(3.0 * d.d[3], 2.0 * d.d[2], d.d[1], p.to)) {
      if (r > p.from) {
        u[n++] = r;
      }
    }
  }
  double u[4] = {};
  std::size_t n = 0;
  const double *begin() const { return u; }
  const double *end() const { return u + n; }
};

// That peak, from the polynomials: the readers' evaluation differs from it
// only by rounding.
double Peak(const Parts &parts) {
  double peak = 0.0;
  for (const Part &p : parts) {
    for (const double u : Candidates(p)) {
      peak = std::max(peak, std::fabs(p.diff.At(u)));
    }
  }
  return peak;
}

// T as its readers evaluate it on [x[k], x[k+1]] of the fit, from the
// table's knots k-1 to k+2 only (fewer at its ends). Where no two knots
// collapsed, X[k-1] < x[k] and X[k+2] > x[k+1], so the search for t's
// segment meets the same knots there as in the whole table, and the same
// fields give the same doubles.
class StoredWindow {
public:
  StoredWindow(const TableFields &f, TableForm form, int32_t k)
      : form_(form), origin_{f.x0, f.y0} {
    const int32_t from = std::max(k - 1, 0);
    const int32_t to = std::min(k + 2, f.n - 1);
    n_ = static_cast<std::size_t>(to - from + 1);
    for (int32_t i = from; i <= to; ++i) {
      const auto w = static_cast<std::size_t>(i - from);
      float narrow[5] = {};
      double wide[5] = {};
      if (form == TableForm::kDouble) {
        f.Record(i, wide);
      } else if (form == TableForm::kOffset) {
        f.OffsetRecord(i, narrow);
      } else {
        f.Record(i, narrow);
      }
      for (std::size_t field = 0; field < 5; ++field) {
        narrow_[field][w] = narrow[field];
        wide_[field][w] = wide[field];
      }
    }
  }

  // Every field stored finite, and x increasing as stored.
  bool Readable() const {
    for (std::size_t k = 0; k < n_; ++k) {
      for (std::size_t field = 0; field < 5; ++field) {
        if (form_ == TableForm::kDouble ? !std::isfinite(wide_[field][k])
                                        : !std::isfinite(narrow_[field][k])) {
          return false;
        }
      }
      if (k > 0 &&
          (form_ == TableForm::kDouble ? wide_[0][k] <= wide_[0][k - 1]
                                       : narrow_[0][k] <= narrow_[0][k - 1])) {
        return false;
      }
    }
    return true;
  }

  double At(double t) const {
    return StoredAt(form_, Of(narrow_), Of(wide_), origin_, t);
  }

private:
  template <class T> Pieces<T> Of(const T (&fields)[5][4]) const {
    return {n_, fields[0], fields[1], fields[2], fields[3], fields[4]};
  }
  TableForm form_;
  Origin origin_;
  std::size_t n_ = 0;
  float narrow_[5][4] = {};
  double wide_[5][4] = {};
};

// How far a scan of the segments got.
enum class Scanned { kAll, kFlagged, kUnreadable };

// The largest |T - S| over the segments, into check (the first of equals),
// evaluated as the readers do where the polynomials may reach half the
// tolerance. With quick it stops at the first segment beyond the tolerance;
// with guard also, unevaluated, at the first whose stored knots no reader
// could use (a field not finite, two x the same), which the whole table's
// checks then name.
Scanned Scan(const TableFields &s, const Stored &stored, double tolerance,
             bool quick, bool guard, TableCheck &check) {
  const Pieces<double> fitted{
      static_cast<std::size_t>(s.n), s.x, s.y, s.a, s.b, s.c};
  const Calculus<double> curve(fitted); // holds fitted by reference
  for (int32_t k = 0; k + 1 < s.n; ++k) {
    const Parts parts = PartsOf(s, stored, k);
    if (Peak(parts) < 0.5 * tolerance) {
      continue;
    }
    const StoredWindow table(s, stored.form, k);
    if (guard && !table.Readable()) {
      return Scanned::kUnreadable;
    }
    for (const Part &p : parts) {
      for (const double u : Candidates(p)) {
        const double t = s.x[k] + u;
        const double by =
            std::fabs(table.At(t) - curve.At(0, t, Extrapolation::kClamp));
        if (by > check.error) {
          check.error = by;
          check.at = t;
        }
      }
    }
    if (quick && check.error > tolerance) {
      return Scanned::kFlagged;
    }
  }
  return Scanned::kAll;
}

TableCheck CheckTable(const TableFields &fit, TableForm form, bool quick,
                      const Range &range) {
  TableCheck check;
  TableFields s = fit;
  Stored stored{form};
  if (!stored.classic()) {
    SetOrigin(s, range.lo, range.hi);
    stored.x0 = s.x0;
    stored.y0 = s.y0;
  }
  const double tolerance = 1e-6 * range.Scale();
  // A fit that needs a wider form is most often off within its first
  // segments: looked for first, a quick check is then done without a pass
  // over the whole table.
  Scanned scanned = Scanned::kUnreadable;
  if (quick) {
    scanned = Scan(s, stored, tolerance, true, true, check);
    if (scanned == Scanned::kFlagged) {
      check.flagged = true;
      return check;
    }
  }
  // A field the form cannot hold, or knots no reader can tell apart: the
  // table's curve is not the fit's, whatever it is.
  check.cause = TableProblem(s, nullptr, form);
  if (check.cause.empty()) {
    check.cause = CollapsedKnots(s.n, s.x, nullptr, form, s.x0);
  }
  if (!check.cause.empty()) {
    check.error = std::numeric_limits<double>::quiet_NaN();
    check.flagged = true;
    return check;
  }
  check.cause = Underflow(s, stored);
  if (!check.cause.empty() && quick) {
    check.flagged = true;
    return check;
  }
  if (scanned != Scanned::kAll) {
    Scan(s, stored, tolerance, quick, false, check);
  }
  check.flagged = !check.cause.empty() || check.error > tolerance;
  return check;
}

} // namespace

TableCheck CheckTable(const TableFields &fit, TableForm form, bool quick) {
  return CheckTable(fit, form, quick, Range(fit));
}

TableForm FormAfter(const TableFields &fit, TableForm after) {
  const Range range(fit);
  for (const TableForm form : {TableForm::kOffset, TableForm::kDouble}) {
    if (form > after && !CheckTable(fit, form, true, range).flagged) {
      return form;
    }
  }
  return after;
}

TableForm LeastTableForm(const TableFields &fit) {
  // The double form is the last resort, whatever its check would say.
  const Range range(fit);
  for (const TableForm form : {TableForm::kClassic, TableForm::kOffset}) {
    if (!CheckTable(fit, form, true, range).flagged) {
      return form;
    }
  }
  return TableForm::kDouble;
}

TableCheck check_table(const Spline &fit, TableForm form) {
  return CheckTable(FieldsOf(fit), form);
}

TableForm least_table_form(const Spline &fit) {
  return LeastTableForm(FieldsOf(fit));
}

} // namespace knotfit
