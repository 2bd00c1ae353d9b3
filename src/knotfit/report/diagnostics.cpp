#include "report/diagnostics.h"

#include "knotfit_internal.h"

#include "knotfit/table.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

const std::vector<FlagInfo> kFlagInfo = {
    {Flag::kOvershoot, "overshoot",
     "Where the data run one way, the curve leaves the band of a segment's "
     "two points by more than 0.1% of the data's y range: it swings past "
     "the data.",
     "where the data run one way, the curve swings past them\n"
     "by more than 0.1% of the y range"},
    {Flag::kNotMonotone, "not-monotone",
     "The data rise (or fall) throughout but the curve turns back somewhere: "
     "an inverse lookup finds more than one x.",
     "the data are monotone, the curve turns back"},
    {Flag::kBinary32, "binary32",
     "The coefficient table, as its readers evaluate it, differs from the "
     "fit by more than 1e-6 of the y range, or a coefficient narrowed to a "
     "subnormal or to zero, or two knots have the same x in binary32.",
     "the table's curve, in its form, is more than 1e-6 of\n"
     "the y range off the fit, a coefficient underflows, or\n"
     "knots collapse"},
    {Flag::kSpacing, "spacing",
     "The largest gap between neighbouring knots is more than 1000 times the "
     "smallest: the fit is ill-conditioned there.",
     "the largest knot gap is over 1000 times the smallest"},
};

// The roots of p*u^2 + q*u + r in (0, h), in increasing order. The larger
// root in magnitude comes from the formula without cancellation, the other
// from the product of the roots.
Roots RootsWithin(double p, double q, double r, double h) {
  double found[2];
  size_t count = 0;
  if (p == 0.0) {
    if (q != 0.0) {
      found[count++] = -r / q;
    }
  } else if (const double disc = q * q - 4.0 * p * r; disc >= 0.0) {
    const double big = -0.5 * (q + std::copysign(std::sqrt(disc), q));
    found[count++] = big / p;
    if (big != 0.0) {
      found[count++] = r / big;
    }
  }
  Roots roots;
  for (size_t i = 0; i < count; ++i) {
    if (found[i] > 0.0 && found[i] < h) {
      roots.u[roots.n++] = found[i];
    }
  }
  if (roots.n == 2 && roots.u[1] < roots.u[0]) {
    std::swap(roots.u[0], roots.u[1]);
  }
  return roots;
}

Roots Turns(const knotfit::Spline &s, size_t k) {
  return TurningPoints(s.a()[k], s.b()[k], s.c()[k], s.x()[k + 1] - s.x()[k]);
}

// What the tolerances are relative to: the data's y range, or for level
// data their magnitude.
double Scale(const std::vector<double> &y) {
  const auto [lo, hi] = std::minmax_element(y.begin(), y.end());
  if (*hi > *lo) {
    return *hi - *lo;
  }
  const double size = std::max(std::fabs(*lo), std::fabs(*hi));
  return size > 0.0 ? size : 1.0;
}

// The data run one way from y[k-1] to y[k+2], the window cut at the ends.
bool LocallyMonotone(const std::vector<double> &y, size_t k) {
  const size_t lo = k > 0 ? k - 1 : 0;
  const size_t hi = std::min(k + 2, y.size() - 1);
  bool rise = true, fall = true;
  for (size_t i = lo; i < hi; ++i) {
    rise = rise && y[i + 1] >= y[i];
    fall = fall && y[i + 1] <= y[i];
  }
  return rise || fall;
}

// Each check below looks at the whole fit, or with quick only until the
// flag is certain: the other methods' fits need no more.
void CheckOvershoot(const knotfit::Spline &s, double scale, bool quick,
                    Diagnosis &out) {
  const std::vector<double> &x = s.x(), &y = s.y();
  Finding worst(Flag::kOvershoot);
  for (size_t k = 0; k + 1 < x.size(); ++k) {
    if (!LocallyMonotone(y, k)) {
      continue; // a peak of oscillating data lies between such knots
    }
    const double lo = std::min(y[k], y[k + 1]), hi = std::max(y[k], y[k + 1]);
    double beyond = 0.0, at = 0.0;
    for (const double u : Turns(s, k)) {
      const double v = s.value(x[k] + u);
      const double by = std::max(lo - v, v - hi);
      if (by > beyond) {
        beyond = by;
        at = x[k] + u;
      }
    }
    if (beyond > 1e-3 * scale) {
      out.overshoot.push_back({x[k], x[k + 1]});
      if (beyond > worst.amount) {
        worst.amount = beyond;
        worst.at = at;
      }
      if (quick) {
        break;
      }
    }
  }
  if (!out.overshoot.empty()) {
    out.findings.push_back(worst);
  }
}

void CheckMonotone(const knotfit::Spline &s, double scale, bool quick,
                   Diagnosis &out) {
  const std::vector<double> &x = s.x(), &y = s.y();
  bool rise = true, fall = true;
  for (size_t i = 0; i + 1 < y.size(); ++i) {
    rise = rise && y[i + 1] >= y[i];
    fall = fall && y[i + 1] <= y[i];
  }
  if (rise == fall) {
    return; // not monotone data, or level data
  }
  // Walk the knots and turning points in order: the largest fall (for
  // rising data) from the highest value so far.
  const double sign = rise ? 1.0 : -1.0;
  double top = sign * y[0];
  Finding worst(Flag::kNotMonotone);
  auto visit = [&](double t, double v) {
    top = std::max(top, sign * v);
    if (top - sign * v > worst.amount) {
      worst.amount = top - sign * v;
      worst.at = t;
    }
  };
  // Rounding alone moves S by far less than this.
  const double tolerance = 1e-12 * scale;
  for (size_t k = 0; k + 1 < x.size(); ++k) {
    for (const double u : Turns(s, k)) {
      visit(x[k] + u, s.value(x[k] + u));
    }
    visit(x[k + 1], y[k + 1]);
    if (quick && worst.amount > tolerance) {
      break;
    }
  }
  if (worst.amount > tolerance) {
    out.findings.push_back(worst);
  }
}

// A fit's fields as a table of the form stores them, widened back to
// double: what its readers compute with. The offset form rounds x - x0 and
// y - y0, not x and y; the double form rounds nothing.
struct Stored {
  Stored(const knotfit::Spline &s, knotfit::TableForm form_) : form(form_) {
    if (!classic()) {
      knotfit::detail::TableFields t;
      t.n = static_cast<int32_t>(s.size());
      t.x = s.x().data();
      t.y = s.y().data();
      knotfit::detail::SetOrigin(t);
      x0 = t.x0;
      y0 = t.y0;
    }
  }
  knotfit::TableForm form;
  double x0 = 0.0, y0 = 0.0;
  bool classic() const { return form == knotfit::TableForm::kClassic; }
  double Field(double v) const {
    return form == knotfit::TableForm::kDouble
               ? v
               : static_cast<double>(knotfit::detail::Narrow(v));
  }
  double X(double x) const { return classic() ? Field(x) : x0 + Field(x - x0); }
  double Y(double y) const { return classic() ? Field(y) : y0 + Field(y - y0); }
};

// The first field of y, a, b, c that is not zero but narrows to a subnormal
// or to zero in binary32 (y - y0 in the offset form); empty when there is
// none, as always in the double form.
std::string Underflow(const knotfit::Spline &s, const Stored &form) {
  if (form.form == knotfit::TableForm::kDouble) {
    return {};
  }
  const std::vector<double> *fields[4] = {&s.y(), &s.a(), &s.b(), &s.c()};
  static const char *const kNames[4] = {"y", "a", "b", "c"};
  for (size_t f = 0; f < 4; ++f) {
    for (size_t k = 0; k < s.size(); ++k) {
      const double v = (*fields[f])[k] - (f == 0 ? form.y0 : 0.0);
      if (v == 0.0 || !knotfit::detail::FitsBinary32(v)) {
        continue;
      }
      const auto narrowed = static_cast<float>(v);
      if (narrowed == 0.0f || !std::isnormal(narrowed)) {
        const char *name = f == 0 && !form.classic() ? "y - y0" : kNames[f];
        return std::string(name) + " of knot " + std::to_string(k) + " (" +
               knotfit::detail::ShortNumber(v) + ") narrows to " +
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
// up to three pieces, on each of which T - S is one cubic. Before X[0] and
// after X[n-1] T is flat, its end value (segment -1 and n-1 below). Knots
// that collapsed are flagged before this is needed; otherwise X[k] <= x[k+1]
// and X[k+1] >= x[k], since rounding keeps order.
struct Piece {
  double from, to; // u = t - x[k]
  Difference diff;
};

Difference DifferenceOn(const knotfit::Spline &s, const Stored &form, size_t k,
                        ptrdiff_t j) {
  const auto n = static_cast<ptrdiff_t>(s.size());
  if (j < 0 || j == n - 1) {
    const double end = form.Y(j < 0 ? s.y().front() : s.y().back());
    return {{end - s.y()[k], -s.a()[k], -s.b()[k], -s.c()[k]}};
  }
  const auto m = static_cast<size_t>(j);
  const double d = s.x()[k] - form.X(s.x()[m]);
  const double at = form.Field(s.a()[m]), bt = form.Field(s.b()[m]),
               ct = form.Field(s.c()[m]);
  return {{(form.Y(s.y()[m]) - s.y()[k]) + at * d + bt * d * d + ct * d * d * d,
           (at - s.a()[k]) + 2.0 * bt * d + 3.0 * ct * d * d,
           (bt - s.b()[k]) + 3.0 * ct * d, ct - s.c()[k]}};
}

// At most three pieces, in order.
struct Pieces {
  Piece p[3];
  size_t n = 0;
  const Piece *begin() const { return p; }
  const Piece *end() const { return p + n; }
};

Pieces PiecesOf(const knotfit::Spline &s, const Stored &form, size_t k) {
  const double x0 = s.x()[k], h = s.x()[k + 1] - x0;
  const double lo = form.X(x0) - x0;
  const double hi = form.X(s.x()[k + 1]) - x0;
  const auto j = static_cast<ptrdiff_t>(k);
  Pieces pieces;
  if (lo > 0.0) {
    pieces.p[pieces.n++] = {0.0, lo, DifferenceOn(s, form, k, j - 1)};
  }
  pieces.p[pieces.n++] = {std::max(lo, 0.0), std::min(hi, h),
                          DifferenceOn(s, form, k, j)};
  if (hi < h) {
    pieces.p[pieces.n++] = {hi, h, DifferenceOn(s, form, k, j + 1)};
  }
  return pieces;
}

// Where |T - S| may peak on a piece: its ends and where D' is zero.
struct Candidates {
  explicit Candidates(const Piece &p) {
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
  size_t n = 0;
  const double *begin() const { return u; }
  const double *end() const { return u + n; }
};

// That peak, from the polynomials: the readers' evaluation differs from it
// only by rounding.
double Peak(const Pieces &pieces) {
  double peak = 0.0;
  for (const Piece &p : pieces) {
    for (const double u : Candidates(p)) {
      peak = std::max(peak, std::fabs(p.diff.At(u)));
    }
  }
  return peak;
}

// The largest |T - S| on segment k, with T evaluated as the table's readers
// do, at every point where it may peak.
void LargestDifference(const knotfit::Spline &s, const knotfit::Table &t,
                       size_t k, const Pieces &pieces, Finding &worst) {
  const double x0 = s.x()[k];
  for (const Piece &p : pieces) {
    for (const double u : Candidates(p)) {
      const double by = std::fabs(t.value(x0 + u) - s.value(x0 + u));
      if (by > worst.amount) {
        worst.amount = by;
        worst.at = x0 + u;
      }
    }
  }
}

void CheckBinary32(const knotfit::Spline &s, double scale, bool quick,
                   knotfit::TableForm written, Diagnosis &out) {
  Finding worst(Flag::kBinary32);
  const auto n = static_cast<int32_t>(s.size());
  const Stored form(s, written);
  knotfit::detail::TableFields fields = knotfit::detail::FieldsOf(s);
  fields.x0 = form.x0;
  fields.y0 = form.y0;
  // A field the form cannot hold: no such table can be written.
  worst.cause = knotfit::detail::TableProblem(fields, nullptr, written);
  if (worst.cause.empty()) {
    worst.cause = knotfit::detail::CollapsedKnots(n, s.x().data(), nullptr,
                                                  written, form.x0);
  }
  if (!worst.cause.empty()) {
    // Knots no reader can tell apart: the table's curve is not the fit's,
    // whatever it is.
    worst.amount = std::numeric_limits<double>::quiet_NaN();
    out.findings.push_back(worst);
    return;
  }
  worst.cause = Underflow(s, form);
  if (!worst.cause.empty() && quick) {
    out.findings.push_back(worst);
    return;
  }
  // Only segments whose polynomials peak at half the tolerance or more are
  // evaluated as the readers do; the table is read at the first of them.
  const double tolerance = 1e-6 * scale;
  try {
    std::optional<knotfit::Table> table;
    for (size_t k = 0; k + 1 < s.size(); ++k) {
      const Pieces pieces = PiecesOf(s, form, k);
      if (Peak(pieces) < 0.5 * tolerance) {
        continue;
      }
      if (!table) {
        table = knotfit::read_table(knotfit::table_bytes(s, written));
      }
      LargestDifference(s, *table, k, pieces, worst);
      if (quick && worst.amount > tolerance) {
        break;
      }
    }
  } catch (const knotfit::Error &e) {
    worst.cause = e.what(); // a field the form cannot hold
    worst.amount = std::numeric_limits<double>::quiet_NaN();
  }
  if (!worst.cause.empty() || worst.amount > tolerance) {
    out.findings.push_back(worst);
  }
}

void CheckSpacing(const knotfit::Spline &s, Diagnosis &out) {
  const std::vector<double> &x = s.x();
  size_t widest = 0, narrowest = 0;
  for (size_t k = 1; k + 1 < x.size(); ++k) {
    const double h = x[k + 1] - x[k];
    widest = h > x[widest + 1] - x[widest] ? k : widest;
    narrowest = h < x[narrowest + 1] - x[narrowest] ? k : narrowest;
  }
  const double big = x[widest + 1] - x[widest];
  const double small = x[narrowest + 1] - x[narrowest];
  if (big > 1000.0 * small) {
    out.findings.emplace_back(
        Flag::kSpacing, big / small, x[narrowest],
        "gap " + knotfit::detail::ShortNumber(big) +
            " after x = " + knotfit::detail::ShortNumber(x[widest]) + ", gap " +
            knotfit::detail::ShortNumber(small) +
            " after x = " + knotfit::detail::ShortNumber(x[narrowest]));
  }
}

Diagnosis Check(const knotfit::Spline &s, FlagSet which, bool quick,
                knotfit::TableForm form) {
  Diagnosis out;
  const double scale = Scale(s.y());
  if ((which & Bit(Flag::kOvershoot)) != 0) {
    CheckOvershoot(s, scale, quick, out);
  }
  if ((which & Bit(Flag::kNotMonotone)) != 0) {
    CheckMonotone(s, scale, quick, out);
  }
  if ((which & Bit(Flag::kBinary32)) != 0) {
    CheckBinary32(s, scale, quick, form, out);
  }
  if ((which & Bit(Flag::kSpacing)) != 0) {
    CheckSpacing(s, out);
  }
  return out;
}

// A table written for a bound, judged on its own curve T between the data
// points (x_i, y_i) it was made for: T as its readers evaluate it, its
// extremes on each data interval taken at the interval's ends, at T's knots
// inside it and where T's pieces turn.
struct Judged {
  const knotfit::Spline &t;     // T's knots and fields, unrounded
  const knotfit::Table &stored; // T as written
  const std::vector<double> &x, &y;
  double e, r;

  // Calls visit(t, T(t)) for each place where T may peak on data interval
  // i, in increasing t; j is the piece of T where the walk stands, moved on.
  template <class F> void Extremes(size_t i, size_t &j, F &&visit) const {
    const std::vector<double> &kx = t.x();
    const double from = x[i], to = x[i + 1];
    visit(from, stored.value(from));
    while (j + 2 < kx.size() && kx[j + 1] <= from) {
      ++j;
    }
    for (; j + 1 < kx.size() && kx[j] < to; ++j) {
      for (const double u : Turns(t, j)) {
        const double at = kx[j] + u;
        if (at > from && at < to) {
          visit(at, stored.value(at));
        }
      }
      if (kx[j + 1] > from && kx[j + 1] < to) {
        visit(kx[j + 1], stored.value(kx[j + 1]));
      }
      if (kx[j + 1] >= to) {
        break;
      }
    }
    visit(to, stored.value(to));
  }
};

// As CheckOvershoot, on T over each data interval, with what the bound allows
// there (E + R min(|y_i|, |y_i+1|)) as the least overshoot flagged: the
// table promised no more.
void CheckTableOvershoot(const Judged &d, double scale, Diagnosis &out) {
  Finding worst(Flag::kOvershoot);
  size_t j = 0;
  for (size_t i = 0; i + 1 < d.x.size(); ++i) {
    if (!LocallyMonotone(d.y, i)) {
      continue;
    }
    const double lo = std::min(d.y[i], d.y[i + 1]);
    const double hi = std::max(d.y[i], d.y[i + 1]);
    double beyond = 0.0, at = 0.0;
    d.Extremes(i, j, [&](double t, double v) {
      const double by = std::max(lo - v, v - hi);
      if (by > beyond) {
        beyond = by;
        at = t;
      }
    });
    const double allowed =
        d.e + d.r * std::min(std::fabs(d.y[i]), std::fabs(d.y[i + 1]));
    if (beyond > std::max(1e-3 * scale, allowed)) {
      out.overshoot.push_back({d.x[i], d.x[i + 1]});
      if (beyond > worst.amount) {
        worst.amount = beyond;
        worst.at = at;
      }
    }
  }
  if (!out.overshoot.empty()) {
    out.findings.push_back(worst);
  }
}

// As CheckMonotone, walking T from its value at the first point.
void CheckTableMonotone(const Judged &d, double scale, Diagnosis &out) {
  bool rise = true, fall = true;
  for (size_t i = 0; i + 1 < d.y.size(); ++i) {
    rise = rise && d.y[i + 1] >= d.y[i];
    fall = fall && d.y[i + 1] <= d.y[i];
  }
  if (rise == fall) {
    return;
  }
  const double sign = rise ? 1.0 : -1.0;
  double top = sign * d.stored.value(d.x[0]);
  Finding worst(Flag::kNotMonotone);
  size_t j = 0;
  for (size_t i = 0; i + 1 < d.x.size(); ++i) {
    d.Extremes(i, j, [&](double t, double v) {
      top = std::max(top, sign * v);
      if (top - sign * v > worst.amount) {
        worst.amount = top - sign * v;
        worst.at = t;
      }
    });
  }
  if (worst.amount > 1e-12 * scale) {
    out.findings.push_back(worst);
  }
}

} // namespace

Roots TurningPoints(double a, double b, double c, double h) {
  return RootsWithin(3.0 * c, 2.0 * b, a, h);
}

const std::vector<FlagInfo> &AllFlags() {
  return kFlagInfo;
}

const FlagInfo &InfoOf(Flag flag) {
  return kFlagInfo[static_cast<size_t>(flag)];
}

bool ParseFlag(std::string_view name, Flag &out) {
  return knotfit::detail::ParseName(kFlagInfo, &FlagInfo::flag, name, out);
}

FlagSet Diagnosis::flags() const {
  FlagSet set = 0;
  for (const Finding &f : findings) {
    set |= Bit(f.flag);
  }
  return set;
}

// The first form after the one given whose table the binary32 flag would
// not flag, in the order classic, offset, double: each keeps more of the
// fit than the one before.
std::optional<knotfit::TableForm> FormAvoiding(const knotfit::Spline &fit,
                                               knotfit::TableForm after) {
  for (const knotfit::TableForm form :
       {knotfit::TableForm::kOffset, knotfit::TableForm::kDouble}) {
    if (form > after &&
        Check(fit, Bit(Flag::kBinary32), true, form).findings.empty()) {
      return form;
    }
  }
  return std::nullopt;
}

knotfit::TableForm LeastTableForm(const knotfit::Spline &fit) {
  const knotfit::TableForm classic = knotfit::TableForm::kClassic;
  if (Check(fit, Bit(Flag::kBinary32), true, classic).findings.empty()) {
    return classic;
  }
  return FormAvoiding(fit, classic).value_or(knotfit::TableForm::kDouble);
}

Diagnosis Diagnose(const knotfit::Spline &fit,
                   const knotfit::MethodChoice &method,
                   knotfit::TableForm form) {
  Diagnosis d = Check(fit, ~FlagSet{0}, false, form);
  const FlagSet raised = d.flags();
  if (raised == 0) {
    return d;
  }
  for (Finding &f : d.findings) {
    if (f.flag == Flag::kBinary32) {
      f.avoided_by_form = FormAvoiding(fit, form);
    }
  }
  const auto n = static_cast<int32_t>(fit.size());
  for (const knotfit::Method other :
       knotfit::detail::Alternatives(method.method)) {
    const knotfit::MethodChoice choice{other};
    if (!knotfit::detail::MethodProblem(choice, n, fit.x().data(),
                                        fit.y().data())
             .empty()) {
      continue; // the method cannot fit these points
    }
    const FlagSet still =
        Check(knotfit::fit(fit.x(), fit.y(), choice), raised, true, form)
            .flags();
    for (Finding &f : d.findings) {
      if ((still & Bit(f.flag)) == 0) {
        f.avoided_by.push_back(other);
      }
    }
  }
  return d;
}

Diagnosis DiagnoseTable(const knotfit::Spline &table, const TablePoints &data,
                        double e, double r, knotfit::TableForm form) {
  // binary32 and spacing look at T alone: T as written against the
  // doubles it was encoded from, and T's knots.
  Diagnosis d = Check(table, Bit(Flag::kBinary32), false, form);
  Diagnosis out;
  const double scale = Scale(data.y);
  if (data.x.size() >= 2) {
    try {
      const knotfit::Table stored =
          knotfit::read_table(knotfit::table_bytes(table, form));
      const Judged judged{table, stored, data.x, data.y, e, r};
      CheckTableOvershoot(judged, scale, out);
      CheckTableMonotone(judged, scale, out);
    } catch (const knotfit::Error &) {
      // A field the form cannot hold: flagged binary32 below.
    }
  }
  for (Finding &f : d.findings) {
    f.avoided_by_form = FormAvoiding(table, form);
    out.findings.push_back(std::move(f));
  }
  CheckSpacing(table, out);
  return out;
}
