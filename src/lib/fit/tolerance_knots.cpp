// Knots placed until the stored table is within E of every data point.
//
// The default method: the least-squares C2 cubic spline on a set of knots at
// data abscissas (B-splines, the banded system reduced by Givens rotations,
// row by row, as de Boor's and Dierckx's fitting codes do), written in the
// table's Hermite form from its values and slopes at the knots. Knots are
// inserted where the stored table is worst, one in each interval that
// breaks the bound, until none does; then every interior knot the table can
// do without is removed. The least-squares fit needs data to pin each
// B-spline down (Schoenberg and Whitney): every knot interval keeps at
// least one data point inside. Where that leaves an interval that cannot
// meet E, or a table that meets E but bends away from the fit through every
// point where no point holds it, the knots fall back to a subset of the
// data with the not-a-knot interpolant through it.
//
// The local interpolants (pchip, steffen, makima, akima): the interpolant
// through a subset of the data points, grown and pruned the same way.
//
// Every error is measured on the table as stored: the fields rounded as
// the encoder rounds them (table_encoding.h) and evaluated as the double
// readers evaluate them (calculus.h), so the bound holds for the file. It
// is measured between the points too, at the table's extremes on each data
// interval: a few knots among close, noisy points leave a cubic free to
// swing across the gap beyond them while it passes every point.
#include "tolerance_knots.h"

#include "../evaluate/calculus.h"
#include "../evaluate/evaluate.h"
#include "../evaluate/plot_samples.h"
#include "../exact_math.h"
#include "../table/table_encoding.h"
#include "../text/short_numbers.h"
#include "../text/strtod_c.h"
#include "hermite.h"
#include "methods.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

namespace knotfit {
namespace {

using Knots = std::vector<int32_t>; // indices of the data points, increasing

// The data a placement works on, and what a table is judged against
// between the points: the band lo_i .. hi_i of each data interval, or the
// curve to follow (its pieces on the data intervals).
struct Data {
  int32_t n;
  const double *x, *y;
  double e;
  TableForm form;
  const ToleranceProgress *progress = nullptr;
  double r = 0.0;
  const double *lo = nullptr, *hi = nullptr;
  const Pieces<double> *follow = nullptr;

  void Report(std::size_t knots) const {
    if (progress != nullptr && *progress) {
      (*progress)(knots);
    }
  }
  // What a miss is compared with: itself against E, or without a fixed E
  // its share of what the bound allows there against 1.
  double Load(double miss, double allowed) const {
    return r == 0.0 ? miss : miss / allowed;
  }
  double Limit() const { return r == 0.0 ? e : 1.0; }
};

// The roots u of a + 2bu + 3cu^2 (the derivative of a piece) with
// 0 < u < h, increasing, into u; their count. The smaller root in
// magnitude from the quotient, so that neither cancels.
int SlopeRoots(double a, double b, double c, double h, double *u) {
  double roots[2];
  int found = 0;
  if (c == 0.0) {
    if (b != 0.0) {
      roots[found++] = -a / (2.0 * b);
    }
  } else {
    const double disc = b * b - 3.0 * a * c;
    if (disc >= 0.0) {
      const double q = -(b + std::copysign(std::sqrt(disc), b));
      roots[found++] = q / (3.0 * c);
      if (q != 0.0) {
        roots[found++] = a / q;
      }
    }
  }
  if (found == 2 && roots[1] < roots[0]) {
    std::swap(roots[0], roots[1]);
  }
  int kept = 0;
  for (int k = 0; k < found; ++k) {
    if (roots[k] > 0.0 && roots[k] < h) {
      u[kept++] = roots[k];
    }
  }
  return kept;
}

// A fit's table as stored, evaluated as the readers evaluate it.
class StoredTable {
public:
  StoredTable() = default;
  StoredTable(const ToleranceFit &fit, TableForm form)
      : StoredTable(fit, form, 0, fit.x.size() - 1) {}
  // Only knots from .. to of the table (its origin that of the whole): the
  // same values as the whole table's between knots from and to, away from
  // those two.
  StoredTable(const ToleranceFit &fit, TableForm form, std::size_t from,
              std::size_t to) {
    Assign(fit, form, from, to);
  }
  // The same, in this table's arrays.
  void Assign(const ToleranceFit &fit, TableForm form, std::size_t from,
              std::size_t to) {
    Fill(fit, form, from, to);
    Extremes();
  }

  double At(double t) const {
    return StoredAt(form_, PiecesOf(narrow_), PiecesOf(wide_), origin_, t);
  }

  // Where the last look found its segment, the first extreme after its
  // interval's start and that extreme's segment: points looked at in
  // increasing order find theirs in a step or two instead of a bisection
  // of the whole table, and any point still gets what a bisection gives.
  // (An interval's extremes lie before its end point: they keep a segment
  // of their own.)
  struct Cursor {
    std::size_t segment = 0, inside = 0, inside_segment = 0;
  };

  // For each point i of d from `from` to `to`, in increasing i: calls
  // consider(miss, allowed, t) with |T(x_i) - y_i| at t = x_i, then (i > 0)
  // with how far T leaves the band (or the curve followed) at each knot
  // and each root of a piece's derivative t with x_i-1 < t < x_i, in
  // increasing t, allowed what the bound allows there; then done(i). The
  // form is looked at once for the whole run.
  template <class Consider, class Done>
  void Misses(const Data &d, int32_t from, int32_t to, Cursor &cursor,
              Consider &&consider, Done &&done) const {
    const auto run = [&](const auto &fields, auto about_origin) {
      for (int32_t i = from; i <= to; ++i) {
        MissesOf<decltype(about_origin)::value>(fields, d, i, cursor, consider);
        done(i);
      }
    };
    if (form_ == TableForm::kDouble) {
      run(wide_, std::true_type{});
    } else if (form_ == TableForm::kOffset) {
      run(narrow_, std::true_type{});
    } else {
      run(narrow_, std::false_type{});
    }
  }

private:
  void Fill(const ToleranceFit &fit, TableForm form, std::size_t from,
            std::size_t to) {
    form_ = form;
    TableFields t = FieldsOf(fit);
    if (form != TableForm::kClassic) {
      SetOrigin(t);
      origin_ = {t.x0, t.y0};
    }
    const std::size_t n = to - from + 1;
    for (std::size_t f = 0; f < 5; ++f) {
      if (form == TableForm::kDouble) {
        wide_[f].resize(n);
      } else {
        narrow_[f].resize(n);
      }
    }
    for (auto i = static_cast<int32_t>(from); i <= static_cast<int32_t>(to);
         ++i) {
      const auto k = static_cast<std::size_t>(i) - from;
      if (form == TableForm::kDouble) {
        double record[5];
        t.Record(i, record);
        for (std::size_t f = 0; f < 5; ++f) {
          wide_[f][k] = record[f];
        }
        continue;
      }
      float record[5];
      if (form == TableForm::kClassic) {
        t.Record(i, record);
      } else {
        t.OffsetRecord(i, record);
      }
      for (std::size_t f = 0; f < 5; ++f) {
        narrow_[f][k] = record[f];
      }
    }
  }

  // The interior knots and the roots of each piece's derivative, where a
  // piece takes its extremes: found from the fields as stored, at the
  // abscissa t the reader is then given (evaluated when asked for: a
  // search looks again only where the table changed).
  void Extremes() {
    inside_.clear();
    const std::size_t n =
        form_ == TableForm::kDouble ? wide_[0].size() : narrow_[0].size();
    const auto field = [this](std::size_t f, std::size_t k) {
      return form_ == TableForm::kDouble ? wide_[f][k]
                                         : static_cast<double>(narrow_[f][k]);
    };
    const auto add = [this](double local) {
      const double t =
          form_ == TableForm::kClassic ? local : origin_.x0 + local;
      inside_.push_back(t);
    };
    for (std::size_t k = 0; k + 1 < n; ++k) {
      const double x0 = field(0, k);
      const double h = field(0, k + 1) - x0;
      if (!(h > 0.0)) {
        continue; // knots that collapsed: no segment
      }
      if (k > 0) {
        add(x0);
      }
      double u[2];
      const int roots = SlopeRoots(field(2, k), field(3, k), field(4, k), h, u);
      for (int q = 0; q < roots; ++q) {
        add(x0 + u[q]);
      }
    }
    ordered_ = std::is_sorted(inside_.begin(), inside_.end()) &&
               (form_ == TableForm::kDouble
                    ? std::is_sorted(wide_[0].begin(), wide_[0].end())
                    : std::is_sorted(narrow_[0].begin(), narrow_[0].end()));
  }

public:
  // Whether record i holds the same bits as other's record j, about the
  // same origin: a point evaluated on records that did not change keeps
  // its value.
  bool SameRecord(int32_t i, const StoredTable &other, int32_t j) const {
    if (origin_.x0 != other.origin_.x0 || origin_.y0 != other.origin_.y0) {
      return false;
    }
    const auto a = static_cast<std::size_t>(i);
    const auto b = static_cast<std::size_t>(j);
    for (std::size_t f = 0; f < 5; ++f) {
      const bool same = form_ == TableForm::kDouble
                            ? std::memcmp(&wide_[f][a], &other.wide_[f][b],
                                          sizeof(double)) == 0
                            : std::memcmp(&narrow_[f][a], &other.narrow_[f][b],
                                          sizeof(float)) == 0;
      if (!same) {
        return false;
      }
    }
    return true;
  }

private:
  template <class T>
  static Pieces<T> PiecesOf(const std::array<std::vector<T>, 5> &f) {
    return {f[0].size(), f[0].data(), f[1].data(),
            f[2].data(), f[3].data(), f[4].data()};
  }

  // Steps a walk takes before it bisects what is left.
  static constexpr int kWalk = 4;

  template <bool kAboutOrigin, class T, class Consider>
  void MissesOf(const std::array<std::vector<T>, 5> &f, const Data &d,
                int32_t i, Cursor &cursor, Consider &consider) const {
    const double xi = d.x[i];
    consider(std::fabs(Value<T, kAboutOrigin>(f, xi, cursor.segment) - d.y[i]),
             d.e + d.r * std::fabs(d.y[i]), xi);
    if (i == 0) {
      return;
    }
    const auto k = static_cast<std::size_t>(i - 1);
    std::size_t at = After(d.x[k], cursor.inside);
    if (at == inside_.size() || !(inside_[at] < xi)) {
      return;
    }
    const double allowed =
        d.e + d.r * std::min(std::fabs(d.y[k]), std::fabs(d.y[i]));
    for (; at < inside_.size() && inside_[at] < xi; ++at) {
      const double t = inside_[at];
      const double v = Value<T, kAboutOrigin>(f, t, cursor.inside_segment);
      consider(d.follow != nullptr
                   ? std::fabs(v - d.follow->Cubic(k, t - d.x[k]))
                   : std::max({v - d.hi[k], d.lo[k] - v, 0.0}),
               allowed, t);
    }
  }

  // Calculus<T, kAboutOrigin>::At(0, t, kClamp) step for step, its
  // segment (SegmentOf's: the first knot from 1 on with x >= t, less one)
  // sought from segment k on, and left in k.
  template <class T, bool kAboutOrigin>
  double Value(const std::array<std::vector<T>, 5> &f, double t,
               std::size_t &k) const {
    const T *x = f[0].data();
    const std::size_t n = f[0].size();
    const double local = kAboutOrigin ? t - origin_.x0 : t;
    double v = 0.0;
    if (std::isnan(local)) {
      v = NAN;
    } else if (local <= static_cast<double>(x[0])) {
      v = f[1][0];
    } else if (local >= static_cast<double>(x[n - 1])) {
      v = f[1][n - 1];
    } else {
      if (!(ordered_ && k + 1 < n &&
            (k == 0 || static_cast<double>(x[k]) < local) &&
            (k + 2 == n || !(static_cast<double>(x[k + 1]) < local)))) {
        k = Seek(x, n, k, local);
      }
      v = CubicAt(f[1][k], f[2][k], f[3][k], f[4][k],
                  local - static_cast<double>(x[k]));
    }
    if constexpr (kAboutOrigin) {
      return origin_.y0 + v;
    }
    return v;
  }

  // The segment of t (x[0] < t < x[n-1]) when it is not k: from k on when
  // every knot up to k lies before t, else by bisection.
  template <class T>
  std::size_t Seek(const T *x, std::size_t n, std::size_t k, double t) const {
    const auto before = [](T knot_x, double at) {
      return static_cast<double>(knot_x) < at;
    };
    if (!ordered_ || k + 1 >= n || !(k == 0 || before(x[k], t))) {
      return SegmentOf(n, x, t);
    }
    for (int steps = 0; k + 2 < n && before(x[k + 1], t); ++steps) {
      if (steps == kWalk) {
        const T *knot = std::lower_bound(x + k + 1, x + n - 1, t, before);
        return static_cast<std::size_t>(knot - x) - 1;
      }
      ++k;
    }
    return k;
  }

  // The first extreme after lo (upper_bound's), kept in from: that one
  // when it is, else sought from it on when every extreme before it is at
  // or before lo.
  std::size_t After(double lo, std::size_t &from) const {
    const std::size_t n = inside_.size();
    if (!(ordered_ && from <= n && (from == 0 || inside_[from - 1] <= lo) &&
          (from == n || lo < inside_[from]))) {
      from = SeekAfter(lo, from);
    }
    return from;
  }
  // The first extreme after lo, from `from` on as After says.
  std::size_t SeekAfter(double lo, std::size_t from) const {
    if (!ordered_) {
      return static_cast<std::size_t>(
          std::upper_bound(inside_.begin(), inside_.end(), lo) -
          inside_.begin());
    }
    if (from > inside_.size() || !(from == 0 || inside_[from - 1] <= lo)) {
      from = 0;
    }
    for (int steps = 0; from < inside_.size() && inside_[from] <= lo; ++steps) {
      if (steps == kWalk) {
        return static_cast<std::size_t>(
            std::upper_bound(inside_.begin() +
                                 static_cast<std::ptrdiff_t>(from),
                             inside_.end(), lo) -
            inside_.begin());
      }
      ++from;
    }
    return from;
  }

  TableForm form_ = TableForm::kClassic;
  Origin origin_;
  std::array<std::vector<float>, 5> narrow_;
  std::array<std::vector<double>, 5> wide_;
  std::vector<double> inside_;
  // The knots' x and the extremes in increasing order (as they are unless
  // rounding crossed them): a walk finds what a bisection finds only then.
  bool ordered_ = true;
};

// What the table misses by at point i and on the data interval before it:
// the miss with the largest load, where, and what the bound allows there.
struct Miss {
  double load = 0.0, error = 0.0, at = 0.0, allowed = 0.0;
};

// A miss of NaN, from a field that overflowed, as an infinite one.
double Overflowed(double miss) {
  return std::isnan(miss) ? HUGE_VAL : miss;
}

Miss MissAt(const StoredTable &table, const Data &d, int32_t i,
            StoredTable::Cursor &cursor) {
  Miss m;
  m.at = d.x[i];
  m.allowed = d.e + d.r * std::fabs(d.y[i]);
  table.Misses(
      d, i, i, cursor,
      [&m, &d](double err, double allowed, double at) {
        err = Overflowed(err);
        const double load = d.Load(err, allowed);
        if (load > m.load) {
          m = {load, err, at, allowed};
        }
      },
      [](int32_t) {});
  return m;
}

// MissAt(...).load of each point from .. to, to out(i, load), in
// increasing i: MissAt's steps without keeping where and how much.
template <class Out>
void LoadsOver(const StoredTable &table, const Data &d, int32_t from,
               int32_t to, StoredTable::Cursor &cursor, Out &&out) {
  double largest = 0.0;
  table.Misses(
      d, from, to, cursor,
      [&largest, &d](double err, double allowed, double) {
        const double load = d.Load(Overflowed(err), allowed);
        if (load > largest) {
          largest = load;
        }
      },
      [&largest, &out](int32_t i) {
        out(i, largest);
        largest = 0.0;
      });
}

// The data point a miss of element i asks for: the point itself, or of the
// interval's two ends the nearer to the miss first.
std::array<int32_t, 2> PointsFor(const Miss &m, const Data &d, int32_t i) {
  if (m.at == d.x[i] || i == 0) {
    return {i, i};
  }
  return m.at - d.x[i - 1] < d.x[i] - m.at ? std::array{i - 1, i}
                                           : std::array{i, i - 1};
}

// The miss into the fit: its error, where, what was allowed, met.
void Into(ToleranceFit &fit, const Miss &m, const Data &d) {
  fit.error = m.error;
  fit.worst_at = m.at;
  fit.allowed = m.allowed;
  fit.met = m.load <= d.Limit();
}

// The misses are kept as their loads only (what a search compares), and
// the few misses it picks are evaluated again, to the same bits.
using Loads = std::vector<double>;

// Of the loads from .. to - 1, the first of the largest.
int32_t Largest(const Loads &loads, int32_t from, int32_t to) {
  int32_t worst = from;
  for (int32_t i = from + 1; i < to; ++i) {
    if (loads[static_cast<std::size_t>(i)] >
        loads[static_cast<std::size_t>(worst)]) {
      worst = i;
    }
  }
  return worst;
}

// The largest miss of the table, the first of equals, into the fit; its
// element.
int32_t Worst(ToleranceFit &fit, const Loads &loads, const StoredTable &table,
              const Data &d) {
  const int32_t worst = Largest(loads, 0, d.n);
  StoredTable::Cursor cursor;
  Into(fit, MissAt(table, d, worst, cursor), d);
  return worst;
}

// The loads of the misses of every element of the table, into loads.
void LoadsOf(const StoredTable &table, const Data &d, Loads &loads) {
  loads.resize(static_cast<std::size_t>(d.n));
  StoredTable::Cursor cursor;
  LoadsOver(table, d, 0, d.n - 1, cursor, [&loads](int32_t i, double load) {
    loads[static_cast<std::size_t>(i)] = load;
  });
}

// The loads of a table that changes a few records at a time, and per block
// of them the first of the largest: the worst of all is then found from
// the blocks changed and the largest of the others, as a scan of every
// load finds it.
class ChangingLoads {
public:
  ChangingLoads(const StoredTable &table, const Data &d) {
    LoadsOf(table, d, loads_);
    const std::size_t blocks = (loads_.size() + kBlock - 1) / kBlock;
    largest_.resize(blocks);
    stale_.assign(blocks, true);
  }

  void Set(int32_t i, double load) {
    loads_[static_cast<std::size_t>(i)] = load;
    stale_[static_cast<std::size_t>(i) / kBlock] = true;
  }

  // As Worst over every load, on the table they are of.
  int32_t Worst(ToleranceFit &fit, const StoredTable &table, const Data &d) {
    const auto n = static_cast<int32_t>(loads_.size());
    for (std::size_t b = 0; b < largest_.size(); ++b) {
      if (stale_[b]) {
        const auto from = static_cast<int32_t>(b * kBlock);
        largest_[b] = Largest(loads_, from,
                              std::min(from + static_cast<int32_t>(kBlock), n));
        stale_[b] = false;
      }
    }
    int32_t worst = largest_[0];
    for (const int32_t i : largest_) {
      if (loads_[static_cast<std::size_t>(i)] >
          loads_[static_cast<std::size_t>(worst)]) {
        worst = i;
      }
    }
    StoredTable::Cursor cursor;
    Into(fit, MissAt(table, d, worst, cursor), d);
    return worst;
  }

private:
  static constexpr std::size_t kBlock = 256;
  Loads loads_;
  std::vector<int32_t> largest_;
  std::vector<bool> stale_;
};

// Measures the fit's stored table over the data: its error, where, met;
// the loads of every element into loads.
void Measure(ToleranceFit &fit, const Data &d, Loads &loads) {
  const StoredTable table(fit, d.form);
  LoadsOf(table, d, loads);
  Worst(fit, loads, table, d);
}
void Measure(ToleranceFit &fit, const Data &d) {
  Loads loads;
  Measure(fit, d, loads);
}

// The method's interpolant through the chosen points; a method that needs
// more points than are chosen gets the straight line through two.
void Interpolant(const MethodChoice &method, const Knots &knots, const Data &d,
                 ToleranceFit &fit) {
  const std::size_t m = knots.size();
  fit.x.resize(m);
  fit.y.resize(m);
  for (std::size_t j = 0; j < m; ++j) {
    fit.x[j] = d.x[knots[j]];
    fit.y[j] = d.y[knots[j]];
  }
  fit.a.resize(m);
  fit.b.resize(m);
  fit.c.resize(m);
  const auto count = static_cast<int32_t>(m);
  const MethodChoice used =
      count < InfoOf(method.method).fewest_points ? MethodChoice{} : method;
  ComputeSpline(used, count, fit.x.data(), fit.y.data(), fit.a.data(),
                fit.b.data(), fit.c.data());
}
ToleranceFit Interpolant(const MethodChoice &method, const Knots &knots,
                         const Data &d) {
  ToleranceFit fit;
  Interpolant(method, knots, d, fit);
  return fit;
}

// The p + 1 B-splines of degree p that are not zero at t in span s of the
// extended knots u (u[s] <= t <= u[s+1]), by the Cox-de Boor recurrence
// (Piegl and Tiller, The NURBS Book, A2.2); basis[r] belongs to B-spline
// s - p + r.
void Basis(const std::vector<double> &u, std::size_t s, double t, int p,
           double *basis) {
  double left[4];
  double right[4];
  basis[0] = 1.0;
  for (int j = 1; j <= p; ++j) {
    left[j] = t - u[s + 1 - static_cast<std::size_t>(j)];
    right[j] = u[s + static_cast<std::size_t>(j)] - t;
    double saved = 0.0;
    for (int r = 0; r < j; ++r) {
      const double temp = basis[r] / (right[r + 1] + left[j - r]);
      basis[r] = saved + right[r + 1] * temp;
      saved = left[j - r] * temp;
    }
    basis[j] = saved;
  }
}

// A C2 cubic spline on knots at data abscissas, by its B-spline
// coefficients: with m intervals, the knots extended by three copies of each
// end (knot j is u[j + 3]) and m + 3 coefficients.
struct BSpline {
  Knots knots;
  std::vector<double> u, coef;

  BSpline(Knots k, const Data &d) : knots(std::move(k)) { Extend(d); }
  // The extended knots and the coefficients (0) for the knots.
  void Extend(const Data &d) {
    const std::size_t m = knots.size() - 1;
    u.resize(m + 7);
    for (std::size_t j = 0; j <= m; ++j) {
      u[j + 3] = d.x[knots[j]];
    }
    std::fill_n(u.begin(), 3, u[3]);
    std::fill_n(u.begin() + static_cast<std::ptrdiff_t>(m + 4), 3, u[m + 3]);
    coef.assign(m + 3, 0.0);
  }
  std::size_t Intervals() const { return knots.size() - 1; }
  // The interval of data point i: from knot j to j + 1 with
  // knots[j] < i <= knots[j + 1] (point 0 in interval 0).
  std::size_t IntervalOf(int32_t i) const {
    const auto after = std::lower_bound(knots.begin(), knots.end(), i);
    const auto j = static_cast<std::size_t>(
        std::max<std::ptrdiff_t>(after - knots.begin() - 1, 0));
    return std::min(j, Intervals() - 1);
  }
};

// The least-squares fit of the coefficients lo .. hi to the data points
// first .. last, every other coefficient kept: each point's row (its four
// B-splines, the kept ones moved to the right-hand side) is rotated into the
// upper triangle R of bandwidth 4 and its right-hand side z (Givens, row by
// row, as de Boor's and Dierckx's fitting codes do), then R c = z is solved
// from the last row up. False when R is singular to working precision (the
// knots outrun the data).
bool LeastSquares(BSpline &s, const Data &d, std::size_t lo, std::size_t hi,
                  int32_t first, int32_t last,
                  const std::vector<double> *weights = nullptr) {
  const std::size_t free = hi - lo + 1;
  std::vector<std::array<double, 4>> r(free, {0.0, 0.0, 0.0, 0.0});
  std::vector<double> z(free, 0.0);
  std::size_t span = s.IntervalOf(first);
  for (int32_t i = first; i <= last; ++i) {
    while (span + 1 < s.Intervals() && i > s.knots[span + 1]) {
      ++span;
    }
    double w[4];
    Basis(s.u, span + 3, d.x[i], 3, w);
    double rhs = d.y[i];
    for (std::size_t q = 0; q < 4; ++q) {
      const std::size_t col = span + q;
      if (col < lo || col > hi) {
        rhs = rhs - w[q] * s.coef[col];
        w[q] = 0.0;
      }
    }
    if (weights != nullptr) {
      const double root =
          std::sqrt((*weights)[static_cast<std::size_t>(i - first)]);
      rhs = rhs * root;
      for (double &b : w) {
        b = b * root;
      }
    }
    for (std::size_t q = 0; q < 4; ++q) {
      if (w[q] == 0.0) {
        continue;
      }
      std::array<double, 4> &row = r[span + q - lo];
      double &zq = z[span + q - lo];
      const double pivot = std::sqrt(row[0] * row[0] + w[q] * w[q]);
      const double cos = row[0] / pivot;
      const double sin = w[q] / pivot;
      row[0] = pivot;
      for (std::size_t l = q + 1; l < 4; ++l) {
        const double rotated = cos * row[l - q] + sin * w[l];
        w[l] = cos * w[l] - sin * row[l - q];
        row[l - q] = rotated;
      }
      const double rotated = cos * zq + sin * rhs;
      rhs = cos * rhs - sin * zq;
      zq = rotated;
    }
  }
  double largest = 0.0;
  for (const auto &row : r) {
    largest = std::max(largest, row[0]);
  }
  for (std::size_t k = free; k-- > 0;) {
    if (!(r[k][0] > 1e-10 * largest)) {
      return false;
    }
    double sum = z[k];
    for (std::size_t l = 1; l < 4 && k + l < free; ++l) {
      sum = sum - r[k][l] * s.coef[lo + k + l];
    }
    s.coef[lo + k] = sum / r[k][0];
  }
  return true;
}

// The table of knots first .. last from the spline: values and slopes at
// the knots (S' = the sum of 3 (c[i] - c[i-1]) / (u[i+3] - u[i]) times the
// quadratic B-spline i), the segments from them, those of the knots before
// first and at last too.
void MakeTable(const BSpline &s, std::size_t first, std::size_t last,
               ToleranceFit &fit) {
  const std::size_t m = s.Intervals();
  fit.x.resize(m + 1);
  fit.y.resize(m + 1);
  fit.a.resize(m + 1);
  fit.b.resize(m + 1);
  fit.c.resize(m + 1);
  for (std::size_t j = first; j <= last; ++j) {
    const std::size_t span = std::min(j, m - 1) + 3;
    const double t = s.u[j + 3];
    double cubic[4];
    double quadratic[3];
    Basis(s.u, span, t, 3, cubic);
    Basis(s.u, span, t, 2, quadratic);
    double value = 0.0;
    for (std::size_t q = 0; q < 4; ++q) {
      value = value + s.coef[span - 3 + q] * cubic[q];
    }
    double slope = 0.0;
    for (std::size_t q = 0; q < 3; ++q) {
      const std::size_t i = span - 2 + q;
      slope =
          slope + (3.0 * (s.coef[i] - s.coef[i - 1]) / (s.u[i + 3] - s.u[i])) *
                      quadratic[q];
    }
    fit.x[j] = t;
    fit.y[j] = value;
    fit.a[j] = slope;
  }
  for (std::size_t j = first == 0 ? 0 : first - 1; j <= last; ++j) {
    const bool end = j == m;
    const SegmentCoefficients seg =
        end ? SegmentCoefficients{0.0, 0.0}
            : Hermite(fit.x[j], fit.x[j + 1], fit.y[j], fit.y[j + 1], fit.a[j],
                      fit.a[j + 1]);
    fit.b[j] = seg.b;
    fit.c[j] = seg.c;
  }
}

// The least-squares spline on the knots over every data point, and its
// table.
bool LeastSquares(const Knots &knots, const Data &d, ToleranceFit &fit,
                  BSpline *kept = nullptr) {
  BSpline s(knots, d);
  if (!LeastSquares(s, d, 0, s.coef.size() - 1, 0, d.n - 1)) {
    return false;
  }
  MakeTable(s, 0, s.Intervals(), fit);
  if (kept != nullptr) {
    *kept = std::move(s);
  }
  return true;
}

// Knots a pruning may touch, summed over its trials (each copies or fits
// every knot): a smooth curve's few thousand knots stay below it, noise's
// hundred thousand would make it quadratic. Past it the knots left are
// kept, which meet the bound. The least-squares trial moves more memory
// per knot.
constexpr double kPruneWork = 4e7;
constexpr double kLeastSquaresPruneWork = 2e7;

// B-splines on each side of a removed knot whose coefficients are fitted
// again when it is tried: beyond them the spline is kept as it is.
constexpr std::size_t kRefitReach = 3;
// Reweighted fits a trial makes after the plain one when that is within
// half the bound again of it (Lawson's iteration toward the minimax fit:
// each point's weight times its error, so that the fit leans toward the
// worst points).
constexpr int kReweightings = 4;

// Removes every interior knot, from the left, that the least-squares spline
// can do without. A knot's removal changes the five B-splines whose knots
// include it into four; those and kRefitReach on each side are fitted again
// to the data under them, the rest of the spline kept, and only the table
// between is measured again: the knot goes when it stays within the bound
// there. The spline stays C2 on its knots, and the rest of the table keeps
// its bits.
ToleranceFit PrunedLeastSquares(BSpline s, ToleranceFit fit, const Data &d) {
  const ToleranceFit before = fit;
  BSpline trial(s.knots, d);
  ToleranceFit candidate;
  StoredTable table;
  std::vector<double> weights;
  double work = 0.0;
  for (std::size_t j = 1; j + 1 < s.knots.size();) {
    // A trial copies the knots and the table: past the budget the knots
    // left are kept, which still meet the bound.
    work += static_cast<double>(s.knots.size());
    if (work > kLeastSquaresPruneWork) {
      break;
    }
    d.Report(s.knots.size());
    Knots &fewer = trial.knots;
    fewer.assign(s.knots.begin(), s.knots.end());
    fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(j));
    trial.Extend(d);
    const std::size_t p = j + 3; // the removed knot's place in u
    for (std::size_t i = 0; i < trial.coef.size(); ++i) {
      trial.coef[i] = s.coef[i < p - 4 ? i : i + 1];
    }
    const std::size_t m = trial.Intervals();
    const std::size_t lo = p - 4 > kRefitReach ? p - 4 - kRefitReach : 0;
    const std::size_t hi = std::min(p - 1 + kRefitReach, m + 2);
    const std::size_t first_knot = lo > 3 ? lo - 3 : 0;
    const std::size_t last_knot = std::min(hi + 1, m);
    const int32_t first = trial.knots[first_knot];
    const int32_t last = trial.knots[last_knot];
    // Measured again once it is kept. Its buffers are the last trial's.
    for (auto [v, from] :
         {std::pair{&candidate.x, &fit.x}, std::pair{&candidate.y, &fit.y},
          std::pair{&candidate.a, &fit.a}, std::pair{&candidate.b, &fit.b},
          std::pair{&candidate.c, &fit.c}}) {
      v->assign(from->begin(), from->end());
      v->erase(v->begin() + static_cast<std::ptrdiff_t>(j));
    }
    weights.assign(static_cast<std::size_t>(last - first + 1), 1.0);
    bool met = false;
    for (int round = 0; !met && round <= kReweightings; ++round) {
      if (!LeastSquares(trial, d, lo, hi, first, last,
                        round == 0 ? nullptr : &weights)) {
        break;
      }
      MakeTable(trial, first_knot, last_knot, candidate);
      // The points first .. last lie between knots first_knot and
      // last_knot: three more on each side keep them away from the
      // window's ends.
      table.Assign(candidate, d.form, first_knot > 3 ? first_knot - 3 : 0,
                   std::min(last_knot + 3, m));
      double worst = 0.0;
      StoredTable::Cursor cursor;
      LoadsOver(table, d, first, last, cursor, [&](int32_t i, double load) {
        weights[static_cast<std::size_t>(i - first)] *= load;
        worst = std::max(worst, load);
      });
      met = worst <= d.Limit();
      if (worst > 1.5 * d.Limit()) {
        break; // too far for the weights to close
      }
      // Normalized, with a floor that keeps every point in the fit.
      for (double &w : weights) {
        w = std::max(w / worst, 1e-6);
      }
    }
    if (met) {
      std::swap(s, trial);
      std::swap(fit, candidate);
    } else {
      ++j;
    }
  }
  Measure(fit, d);
  return fit.met ? fit : before;
}

// How a method's knots are fitted and how far apart (in data points) two
// knots must stay.
using Placement = KnotPlacement; // the method's row's

// The fit on the knots, measured, its misses into misses (an infinite
// error when the least-squares fit cannot be made); the spline kept for
// the least-squares fit.
ToleranceFit FitOn(const MethodChoice &method, const Placement &placement,
                   const Knots &knots, const Data &d, Loads &loads,
                   BSpline *kept = nullptr) {
  ToleranceFit fit;
  if (!placement.least_squares) {
    fit = Interpolant(method, knots, d);
  } else if (!LeastSquares(knots, d, fit, kept)) {
    fit.error = HUGE_VAL;
    return fit;
  }
  Measure(fit, d, loads);
  return fit;
}

// The point that the worst miss of each interval that breaks the bound
// asks for (loads: the fit's), kept at least gap points from both of its
// knots; the knots with those added. Unchanged where no interval can take
// one.
Knots Refined(const ToleranceFit &fit, const Loads &loads, const Knots &knots,
              const Data &d, int32_t gap) {
  const StoredTable table(fit, d.form);
  StoredTable::Cursor cursor;
  Knots more;
  more.reserve(knots.size() * 2);
  more.push_back(knots.front());
  for (std::size_t j = 0; j + 1 < knots.size(); ++j) {
    const int32_t lo = knots[j];
    const int32_t hi = knots[j + 1];
    double worst = d.Limit();
    int32_t worst_at = -1;
    for (int32_t i = lo == 0 ? 0 : lo + 1; i <= hi; ++i) {
      if (loads[static_cast<std::size_t>(i)] > worst) {
        worst = loads[static_cast<std::size_t>(i)];
        worst_at = i;
      }
    }
    const int32_t at =
        worst_at < 0
            ? -1
            : PointsFor(MissAt(table, d, worst_at, cursor), d, worst_at)[0];
    // Kept a quarter of the interval's points from its knots: a worst
    // point next to a knot (the least-squares fit does not pass through
    // its ends) would otherwise split off a sliver at a time.
    const int32_t keep = std::max(gap, (hi - lo) / 4);
    if (at >= 0 && hi - lo >= 2 * gap) {
      more.push_back(std::clamp(at, lo + keep, hi - keep));
    }
    more.push_back(hi);
  }
  return more;
}

// The knot intervals of a table made from the old one's knots with knot
// `at` inserted (or removed), whose points may have changed value: a point
// in knot interval q lands on segment q - 1, q or q + 1 (rounding may move
// a stored x past it), which read records q - 1 to q + 2, so a record that
// changed, or the knots next to the one inserted or removed, send the
// intervals r - 2 to r + 1 to be evaluated again.
std::vector<bool> ChangedIntervals(const StoredTable &next,
                                   const StoredTable &old, int32_t m,
                                   int32_t at, bool inserted) {
  std::vector<bool> again(static_cast<std::size_t>(m - 1), false);
  for (int32_t r = 0; r < m; ++r) {
    const bool same =
        inserted ? r != at && next.SameRecord(r, old, r < at ? r : r - 1)
                 : r != at - 1 && r != at &&
                       next.SameRecord(r, old, r < at ? r : r + 1);
    if (same) {
      continue;
    }
    for (int32_t q = std::max(r - 2, 0); q <= std::min(r + 1, m - 2); ++q) {
      again[static_cast<std::size_t>(q)] = true;
    }
  }
  return again;
}

// Calls f(from, to) for the points of the intervals marked, each point
// once, in increasing order.
template <class F>
void ForPointsOf(const std::vector<bool> &again, const Knots &knots, F &&f) {
  int32_t done = -1;
  for (std::size_t q = 0; q < again.size(); ++q) {
    if (!again[q]) {
      continue;
    }
    f(std::max(knots[q], done + 1), knots[q + 1]);
    done = knots[q + 1];
  }
}

// Removes every interior knot, from the left, whose removal keeps the
// interpolant within the bound (best meets it). A trial evaluates again
// only the points whose value may have changed; past kPruneWork the knots
// left are kept.
ToleranceFit Pruned(const MethodChoice &method, Knots &knots, ToleranceFit best,
                    Loads &loads, const Data &d) {
  auto table = std::make_unique<StoredTable>(best, d.form);
  std::vector<std::pair<int32_t, double>> changed;
  // A trial's knots, fit and table, in the buffers of the last one.
  Knots fewer;
  ToleranceFit fit;
  auto next = std::make_unique<StoredTable>(best, d.form);
  double work = 0.0;
  for (std::size_t j = 1; j + 1 < knots.size();) {
    // A trial fits and compares every knot.
    work += static_cast<double>(knots.size());
    if (work > kPruneWork) {
      break;
    }
    d.Report(knots.size());
    fewer.assign(knots.begin(), knots.end());
    fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(j));
    Interpolant(method, fewer, d, fit);
    next->Assign(fit, d.form, 0, fewer.size() - 1);
    changed.clear();
    bool met = true;
    StoredTable::Cursor cursor;
    ForPointsOf(
        ChangedIntervals(*next, *table, static_cast<int32_t>(fewer.size()),
                         static_cast<int32_t>(j), false),
        fewer, [&](int32_t from, int32_t to) {
          LoadsOver(*next, d, from, to, cursor, [&](int32_t i, double load) {
            met = met && load <= d.Limit();
            changed.emplace_back(i, load);
          });
        });
    if (met) {
      for (const auto &[i, load] : changed) {
        loads[static_cast<std::size_t>(i)] = load;
      }
      std::swap(knots, fewer);
      std::swap(best, fit);
      std::swap(table, next);
    } else {
      ++j;
    }
  }
  Worst(best, loads, *table, d);
  return best;
}

// The better of two results: met before not, then fewer knots, then the
// smaller error; a tie keeps the first.
const ToleranceFit &Better(const ToleranceFit &p, const ToleranceFit &q) {
  if (p.met != q.met) {
    return p.met ? p : q;
  }
  if (p.met && p.x.size() != q.x.size()) {
    return p.x.size() < q.x.size() ? p : q;
  }
  return q.error < p.error ? q : p;
}

// A miss this many times what the bound allows, once no interval can take
// another knot: a least-squares table that swings.
constexpr double kRunaway = 100.0;

// Grows the knots from the two ends until the bound is met or no interval
// can take another knot, then prunes them. When no fit meets the bound, the
// one with the smallest error, the first of equals: the fewest knots.
ToleranceFit Placed(const MethodChoice &method, const Placement &placement,
                    const Data &d) {
  Knots knots{0, d.n - 1};
  BSpline spline(knots, d);
  Loads loads, next_loads;
  ToleranceFit fit = FitOn(method, placement, knots, d, loads, &spline);
  if (fit.x.empty()) {
    return fit; // no least-squares fit at all: the caller's fallback
  }
  ToleranceFit best = fit; // while none meets the bound
  while (!fit.met) {
    Knots more = Refined(fit, loads, knots, d, placement.gap);
    if (more.size() == knots.size()) {
      // No interval can take another knot, and what is left may lie
      // between two knots on neighbouring points. Near an end, a run of
      // such knots carries the spline outward from the run's inner end
      // piece by piece, each error about 2 + sqrt(3) times the last, and
      // the table swings between the points there, hundreds of times what
      // the bound allows and more. The removal pass shortens such runs:
      // it keeps a knot only where the refitted table needs it. A miss of
      // the curve's own size it cannot mend.
      if (placement.least_squares && fit.error > kRunaway * fit.allowed) {
        ToleranceFit pruned = PrunedLeastSquares(std::move(spline), fit, d);
        if (pruned.met) {
          return pruned;
        }
      }
      return best;
    }
    ToleranceFit next = FitOn(method, placement, more, d, next_loads, &spline);
    if (std::isinf(next.error) && next.x.empty()) {
      return best; // the data cannot pin the spline down there
    }
    knots = std::move(more);
    fit = std::move(next);
    std::swap(loads, next_loads);
    d.Report(knots.size());
    if (!fit.met && fit.error < best.error) {
      best = fit;
    }
  }
  if (placement.least_squares) {
    return PrunedLeastSquares(std::move(spline), std::move(fit), d);
  }
  return Pruned(method, knots, std::move(fit), loads, d);
}

// Greedy insertion with at most `most` knots. After each insertion only the
// points whose value may have changed are evaluated again: the misses are
// those a full measure gives, bit for bit.
ToleranceFit Greedy(const MethodChoice &method, const Data &d, int32_t most) {
  Knots knots{0, d.n - 1};
  ToleranceFit fit = Interpolant(method, knots, d);
  auto table = std::make_unique<StoredTable>(fit, d.form);
  auto next = std::make_unique<StoredTable>();
  ChangingLoads loads(*table, d);
  int32_t worst = loads.Worst(fit, *table, d);
  StoredTable::Cursor cursor;
  while (!fit.met && static_cast<int32_t>(knots.size()) < most) {
    // The point the worst miss asks for; none when those are knots
    // already: binary32's own error, or a piece between two knots.
    int32_t point = -1;
    auto at = knots.end();
    for (const int32_t p :
         PointsFor(MissAt(*table, d, worst, cursor), d, worst)) {
      at = std::lower_bound(knots.begin(), knots.end(), p);
      if (*at != p) {
        point = p;
        break;
      }
    }
    if (point < 0) {
      break;
    }
    const auto inserted = static_cast<int32_t>(at - knots.begin());
    knots.insert(at, point);
    Interpolant(method, knots, d, fit);
    next->Assign(fit, d.form, 0, knots.size() - 1);
    cursor = {};
    ForPointsOf(
        ChangedIntervals(*next, *table, static_cast<int32_t>(knots.size()),
                         inserted, true),
        knots, [&](int32_t from, int32_t to) {
          LoadsOver(*next, d, from, to, cursor,
                    [&loads](int32_t i, double load) { loads.Set(i, load); });
        });
    std::swap(table, next);
    worst = loads.Worst(fit, *table, d);
    d.Report(knots.size());
  }
  return fit;
}

// Points times knots, and knots, up to which greedy insertion is also
// tried, in case it needs fewer knots: its every step fits every knot and
// looks at every point's error.
constexpr double kGreedyBudget = 3e8;
constexpr int32_t kGreedyMostKnots = 4096;

} // namespace

namespace {

// A plain finite decimal only: no blank, sign, hexadecimal, word or "%".
bool PlainDecimal(std::string_view text, double &out) {
  if (text.empty() ||
      text.find_first_not_of("0123456789.eE-") != std::string_view::npos) {
    return false;
  }
  const std::string whole(text);
  char *stop = nullptr;
  out = StrtodC(whole.c_str(), &stop);
  return stop == whole.c_str() + whole.size() && std::isfinite(out);
}

} // namespace

bool ParseTolerance(std::string_view text, Tolerance &out) {
  const bool percent = !text.empty() && text.back() == '%';
  if (percent) {
    text.remove_suffix(1);
  }
  double value = 0.0;
  if (!PlainDecimal(text, value) || !(value > 0.0)) {
    return false;
  }
  out = {value, percent};
  return true;
}

bool ParseRelativeTolerance(std::string_view text, double &out) {
  double value = 0.0;
  if (!PlainDecimal(text, value) || !(value >= 0.0)) {
    return false;
  }
  out = value == 0.0 ? 0.0 : value; // -0 as 0
  return true;
}

std::string BoundProblem(const Bound &bound, int32_t n, const double *y,
                         ProblemPoint *about) {
  for (int32_t i = 0; i < n; ++i) {
    if (!(bound.e + bound.r * std::fabs(y[i]) > 0.0)) {
      if (about != nullptr) {
        *about = {i, 'y'};
      }
      return "y of point " + std::to_string(i) +
             " is 0, where E + R|y| allows no error";
    }
  }
  return {};
}

double AbsoluteTolerance(const Tolerance &tolerance, int32_t n,
                         const double *y) {
  if (!tolerance.percent) {
    return tolerance.value;
  }
  const auto [low, high] = std::minmax_element(y, y + n);
  return (*high - *low) * (tolerance.value / 100.0);
}

// The method's fit through every point, F.
ToleranceFit ThroughEvery(const MethodChoice &method, const Data &d) {
  Knots every(static_cast<std::size_t>(d.n));
  for (int32_t i = 0; i < d.n; ++i) {
    every[static_cast<std::size_t>(i)] = i;
  }
  return Interpolant(method, every, d);
}

// Whether the table bends away from F on some data interval by more than
// kSwing times what the bound allows there, beyond how far F itself bends
// from the chord between the interval's two points.
//
// A least-squares table on few knots meets E at every point and keeps
// within each interval's band, yet where two knots sit on neighbouring
// points (at an end, or about a noisy reading it must reach) the piece
// between them has no point inside to hold it: on a steep stretch, whose
// band spans the whole rise, it can bend tens of E away from a nearly
// straight F and stay inside. T and F meet within E at both points, so on
// a smooth stretch they stay about E apart between them; an interval where
// they part by more than F bends is such a piece. Where F bends (close,
// noisy points) T may leave it by as much, as the band allows.
//
// On [x_i, x_i+1], with u = t - x_i, T - F and F - chord are cubics in u;
// each takes its largest size at an end or a root of its derivative. T is
// the table in double; this only chooses between tables that meet E. F is
// made again, not kept from the band: once a search, where keeping it would
// hold five arrays the size of the points through the whole search.
constexpr double kSwing = 2.0;

bool SwingsFromFit(const ToleranceFit &table, const MethodChoice &method,
                   const Data &d) {
  const ToleranceFit f = ThroughEvery(method, d);
  const auto largest = [](double y, double a, double b, double c, double h) {
    double u[2];
    double most = std::max(std::fabs(y), std::fabs(CubicAt(y, a, b, c, h)));
    const int roots = SlopeRoots(a, b, c, h, u);
    for (int q = 0; q < roots; ++q) {
      most = std::max(most, std::fabs(CubicAt(y, a, b, c, u[q])));
    }
    return most;
  };
  std::size_t k = 0; // the table's segment over the data interval
  for (std::size_t i = 0; i + 1 < f.x.size(); ++i) {
    while (k + 2 < table.x.size() && table.x[k + 1] <= f.x[i]) {
      ++k;
    }
    const double h = f.x[i + 1] - f.x[i];
    // The table's piece about x_i instead of its knot.
    const double s = f.x[i] - table.x[k];
    const double ty =
        CubicAt(table.y[k], table.a[k], table.b[k], table.c[k], s);
    const double ta =
        table.a[k] + s * (2.0 * table.b[k] + 3.0 * table.c[k] * s);
    const double tb = table.b[k] + 3.0 * table.c[k] * s;
    const double apart =
        largest(ty - f.y[i], ta - f.a[i], tb - f.b[i], table.c[k] - f.c[i], h);
    const double chord = (f.y[i + 1] - f.y[i]) / h;
    const double bend = largest(0.0, f.a[i] - chord, f.b[i], f.c[i], h);
    const double allowed =
        d.e + d.r * std::min(std::fabs(d.y[i]), std::fabs(d.y[i + 1]));
    if (apart - bend > kSwing * allowed) {
      return true;
    }
  }
  return false;
}

// The search on the data as d holds it (the band or the curve to follow
// set).
ToleranceFit Search(const MethodChoice &method, const Data &d) {
  const int32_t n = d.n;
  const double *x = d.x;
  const KnotPlacement *row = InfoOf(method.method).tolerance;
  const Placement placement = row != nullptr ? *row : Placement{false, 1};
  if (placement.least_squares && n < 4) {
    return Greedy(method, d, n);
  }
  if (!std::isfinite(x[n - 1] - x[0])) {
    // Every knot's segment is measured from the first knot.
    throw Error("the x range from " + ShortNumber(x[0]) + " to " +
                ShortNumber(x[n - 1]) + " overflows a double");
  }
  ToleranceFit fit = Placed(method, placement, d);
  const bool swings = placement.least_squares && fit.met && d.lo != nullptr &&
                      SwingsFromFit(fit, method, d);
  if (placement.least_squares && (!fit.met || swings)) {
    // The data cannot pin the least-squares spline down somewhere, or it
    // swings where nothing holds it: points as knots.
    ToleranceFit points = Placed(method, {false, 1}, d);
    if (fit.x.empty() || (swings && points.met)) {
      fit = std::move(points);
    } else if (!fit.met) {
      fit = Better(fit, points);
    }
  }
  const auto knots = static_cast<int32_t>(fit.x.size());
  if (fit.met && knots <= kGreedyMostKnots &&
      static_cast<double>(n) * knots <= kGreedyBudget) {
    fit = Better(fit, Greedy(method, d, knots - 1));
  }
  return fit;
}

// The band of each data interval: the least and greatest of its two points
// and of the method's fit through every point F over it (at the roots of
// its derivative), F evaluated in double.
struct FitBand {
  std::vector<double> lo, hi;

  FitBand(const MethodChoice &method, const Data &d) {
    const ToleranceFit f = ThroughEvery(method, d);
    lo.resize(f.x.size() - 1);
    hi.resize(f.x.size() - 1);
    for (std::size_t i = 0; i + 1 < f.x.size(); ++i) {
      lo[i] = std::min(d.y[i], d.y[i + 1]);
      hi[i] = std::max(d.y[i], d.y[i + 1]);
      double u[2];
      const int roots =
          SlopeRoots(f.a[i], f.b[i], f.c[i], f.x[i + 1] - f.x[i], u);
      for (int q = 0; q < roots; ++q) {
        const double v = CubicAt(f.y[i], f.a[i], f.b[i], f.c[i], u[q]);
        lo[i] = std::min(lo[i], v);
        hi[i] = std::max(hi[i], v);
      }
    }
  }
};

// The data with the band of the method's fit through every point.
Data WithBand(const FitBand &band, Data d) {
  d.lo = band.lo.data();
  d.hi = band.hi.data();
  return d;
}

ToleranceFit FitWithinTolerance(const MethodChoice &method, int32_t n,
                                const double *x, const double *y, double e,
                                TableForm form,
                                const ToleranceProgress &progress) {
  return FitWithinTolerance(method, n, x, y, Bound{e, 0.0}, form, progress);
}

ToleranceFit FitWithinTolerance(const MethodChoice &method, int32_t n,
                                const double *x, const double *y,
                                const Bound &bound, TableForm form,
                                const ToleranceProgress &progress) {
  const Data d{n, x, y, bound.e, form, &progress, bound.r};
  if (n >= 2 && !std::isfinite(x[n - 1] - x[0])) {
    // Every knot's segment is measured from the first knot.
    throw Error("the x range from " + ShortNumber(x[0]) + " to " +
                ShortNumber(x[n - 1]) + " overflows a double");
  }
  return Search(method, WithBand(FitBand(method, d), d));
}

ToleranceFit FollowWithinTolerance(const Spline &f, const Bound &bound,
                                   TableForm form,
                                   const ToleranceProgress &progress) {
  return FollowWithinTolerance(static_cast<int32_t>(f.size()), f.x().data(),
                               f.y().data(), f.a().data(), f.b().data(),
                               f.c().data(), bound, form, progress);
}

ToleranceFit FollowWithinTolerance(int32_t m, const double *x, const double *y,
                                   const double *a, const double *b,
                                   const double *c, const Bound &bound,
                                   TableForm form,
                                   const ToleranceProgress &progress) {
  const Pieces<double> pieces{static_cast<std::size_t>(m), x, y, a, b, c};
  Data d{m, x, y, bound.e, form, &progress, bound.r};
  d.follow = &pieces;
  // A C2 cubic: the least-squares spline on f's values, not-a-knot through
  // some of them where that cannot meet the bound.
  return Search(MethodChoice{}, d);
}

double TableVersusFit(const ToleranceFit &fit, const MethodChoice &method,
                      int32_t n, const double *x, const double *y,
                      TableForm form) {
  const Spline all = knotfit::fit(x, y, static_cast<std::size_t>(n), method);
  return TableVersusFit(fit, static_cast<int32_t>(all.size()), all.x().data(),
                        all.y().data(), all.a().data(), all.b().data(),
                        all.c().data(), form);
}

double TableVersusFit(const ToleranceFit &fit, int32_t m, const double *x,
                      const double *y, const double *a, const double *b,
                      const double *c, TableForm form) {
  const Pieces<double> curve{static_cast<std::size_t>(m), x, y, a, b, c};
  const StoredTable table(fit, form);
  std::vector<PlotSample> samples;
  const auto value = [&curve](double t) { return curve.Value(t); };
  if (!SamplePlot(x[0], x[m - 1], value, samples).empty()) {
    return NAN;
  }
  double largest = 0.0;
  for (const PlotSample &s : samples) {
    largest = std::max(largest, std::fabs(table.At(s.t) - s.value));
  }
  return largest;
}

ToleranceFit GreedyKnots(const MethodChoice &method, int32_t n, const double *x,
                         const double *y, double e, TableForm form) {
  return GreedyKnots(method, n, x, y, Bound{e, 0.0}, form);
}

ToleranceFit GreedyKnots(const MethodChoice &method, int32_t n, const double *x,
                         const double *y, const Bound &bound, TableForm form) {
  const Data d{n, x, y, bound.e, form, nullptr, bound.r};
  return Greedy(method, WithBand(FitBand(method, d), d), n);
}

} // namespace knotfit
