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

knotfit::detail::Roots Turns(const knotfit::Spline &s, size_t k) {
  return knotfit::detail::TurningPoints(s.a()[k], s.b()[k], s.c()[k],
                                        s.x()[k + 1] - s.x()[k]);
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

// The table in the form against the fit, as the library checks it.
void CheckBinary32(const knotfit::Spline &s, bool quick,
                   knotfit::TableForm written, Diagnosis &out) {
  const knotfit::detail::TableCheck check =
      knotfit::detail::CheckTable(knotfit::detail::FieldsOf(s), written, quick);
  if (check.flagged) {
    out.findings.emplace_back(Flag::kBinary32, check.error, check.at,
                              check.cause);
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
    CheckBinary32(s, quick, form, out);
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

// The first form after the one given whose table is not flagged binary32.
std::optional<knotfit::TableForm> FormAvoiding(const knotfit::Spline &fit,
                                               knotfit::TableForm after) {
  const knotfit::TableForm form =
      knotfit::detail::FormAfter(knotfit::detail::FieldsOf(fit), after);
  return form != after ? std::optional(form) : std::nullopt;
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
