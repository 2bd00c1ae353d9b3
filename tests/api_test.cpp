// The knotfit:: API: fits and their errors, the calculus of a spline against
// rules that are exact for cubics, tables written, read back and refused.
#include "knotfit/request.hpp"
#include "knotfit/table.hpp"
#include "knotfit_internal.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

namespace {

using knotfit::Error;
using Points = std::vector<double>;

template <class F> std::string ErrorOf(F f) {
  try {
    f();
  } catch (const Error &e) {
    return e.what();
  }
  return "no error";
}

// n knots 0.1 to 1.1 apart, values of mixed sign and size.
knotfit::Spline RandomSpline(std::mt19937 &rng, std::size_t n) {
  std::uniform_real_distribution<double> gap(0.1, 1.1), value(-10.0, 10.0);
  Points x{value(rng)}, y{value(rng)};
  while (x.size() < n) {
    x.push_back(x.back() + gap(rng));
    y.push_back(value(rng));
  }
  return knotfit::fit(x, y);
}

TEST(Api, FitRefusesWhatTheProgramRefuses) {
  const struct {
    Points x, y;
    const char *reason;
  } cases[] = {
      {{}, {}, "0 points, at least 2 needed"},
      {{1}, {2}, "1 point, at least 2 needed"},
      {{0, 1, 1}, {0, 0, 0}, "x not increasing at point 2 (1 after 1)"},
      {{0, 1}, {0, INFINITY}, "y of point 1 is not finite (inf)"},
      {{0, 1}, {0}, "2 x values but 1 y values"},
  };
  for (const auto &tc : cases) {
    EXPECT_EQ(ErrorOf([&] { knotfit::fit(tc.x, tc.y); }), tc.reason);
  }
}

// Each segment is a cubic, on which the five-point derivative, the second
// difference and Simpson's rule are exact; the flat extension is linear.
TEST(Api, CalculusIsExactForCubics) {
  std::mt19937 rng(2);
  const knotfit::Spline s = RandomSpline(rng, 12);
  const Points &x = s.x();
  auto simpson = [&s](double p, double q) {
    return (q - p) / 6.0 *
           (s.value(p) + 4.0 * s.value((p + q) / 2) + s.value(q));
  };
  for (std::size_t k = 0; k + 1 < x.size(); ++k) {
    const double h = (x[k + 1] - x[k]) / 5, t = x[k] + 2.5 * h;
    const double d = (s.value(t - 2 * h) - 8 * s.value(t - h) +
                      8 * s.value(t + h) - s.value(t + 2 * h)) /
                     (12 * h);
    EXPECT_NEAR(s.derivative(t), d, 1e-9 * (1 + std::fabs(d)));
    const double d2 =
        (s.value(t - h) - 2 * s.value(t) + s.value(t + h)) / (h * h);
    EXPECT_NEAR(s.second_derivative(t), d2, 1e-7 * (1 + std::fabs(d2)));
  }
  std::uniform_real_distribution<double> bound(x.front() - 2, x.back() + 2);
  for (int i = 0; i < 100; ++i) {
    const double p = bound(rng), q = bound(rng);
    const double lo = std::min(p, q), hi = std::max(p, q);
    double expected = 0, from = lo;
    for (const double knot : x) {
      if (knot > from && knot < hi) {
        expected += simpson(from, knot);
        from = knot;
      }
    }
    expected += simpson(from, hi);
    EXPECT_NEAR(s.integral(lo, hi), expected, 1e-10 * (hi - lo + 1));
    EXPECT_EQ(s.integral(hi, lo), -s.integral(lo, hi));
    EXPECT_EQ(s.integral(lo, lo), 0.0);
  }
  for (const double outside : {x.front() - 1, x.back() + 1}) {
    EXPECT_EQ(s.derivative(outside), 0.0);
    EXPECT_EQ(s.second_derivative(outside), 0.0);
  }
}

// The rules beyond the knots of y = x^3 on 0..4, for the spline and for its
// table: S, S', S'' at -1 and 5, and the integral from -1 to 5.
TEST(Api, ExtrapolationRules) {
  using E = knotfit::Extrapolation;
  const knotfit::Spline s = knotfit::fit({0, 1, 2, 3, 4}, {0, 1, 8, 27, 64});
  const knotfit::Table t = knotfit::read_table(knotfit::table_bytes(s));
  const struct {
    const char *name;
    double left[3], right[3], integral;
  } cases[] = {{"clamp", {0, 0, 0}, {64, 0, 0}, 128},
               {"linear", {0, 0, 0}, {112, 48, 0}, 152},
               {"cubic", {-1, 3, -6}, {125, 75, 30}, 156},
               {"nan", {NAN, NAN, NAN}, {NAN, NAN, NAN}, NAN}};
  auto near = [](double got, double want) {
    return std::isnan(want)
               ? std::isnan(got)
               : std::fabs(got - want) < 1e-9 * (1 + std::fabs(want));
  };
  for (const auto &tc : cases) {
    E e = E::kClamp;
    ASSERT_TRUE(knotfit::ParseExtrapolation(tc.name, e));
    EXPECT_STREQ(knotfit::ExtrapolationName(e), tc.name);
    auto check = [&](const auto &r) {
      for (int side = 0; side < 2; ++side) {
        const double at = side == 0 ? -1 : 5;
        const double *want = side == 0 ? tc.left : tc.right;
        EXPECT_TRUE(near(r.value(at, e), want[0])) << tc.name << at;
        EXPECT_TRUE(near(r.derivative(at, e), want[1])) << tc.name << at;
        EXPECT_TRUE(near(r.second_derivative(at, e), want[2])) << tc.name;
      }
      EXPECT_TRUE(near(r.integral(-1, 5, e), tc.integral)) << tc.name;
      EXPECT_EQ(r.value(2.5, e), r.value(2.5)) << tc.name;
    };
    check(s);
    check(t);
  }
  E e = E::kNan;
  EXPECT_FALSE(knotfit::ParseExtrapolation("Clamp", e));
  EXPECT_EQ(e, E::kNan);
}

// Every root inverse() gives is one (S - v is 0 or changes sign towards a
// neighbouring double), and every sign change of S - v on a fine grid holds
// one; a level segment gives its two knots.
TEST(Api, InverseFindsEveryRoot) {
  std::mt19937 rng(4);
  auto is_root = [](const auto &r, double at, double v) {
    const double here = r.value(at) - v;
    return here * (r.value(std::nextafter(at, -INFINITY)) - v) <= 0 ||
           here * (r.value(std::nextafter(at, INFINITY)) - v) <= 0;
  };
  // r: a spline, or a table of s in any form.
  auto check = [&](const auto &r, double v, const knotfit::Spline &s) {
    const std::vector<double> roots = r.inverse(v);
    for (std::size_t i = 0; i < roots.size(); ++i) {
      EXPECT_TRUE(is_root(r, roots[i], v)) << roots[i] << " for " << v;
      EXPECT_TRUE(i == 0 || roots[i] > roots[i - 1]);
    }
    const double first = s.x().front(), last = s.x().back();
    for (int i = 0; i < 2000; ++i) {
      const double p = first + (last - first) * i / 2000;
      const double q = first + (last - first) * (i + 1) / 2000;
      if ((r.value(p) - v) * (r.value(q) - v) < 0) {
        EXPECT_TRUE(std::any_of(roots.begin(), roots.end(),
                                [&](double x) { return x >= p && x <= q; }))
            << "no root in " << p << ".." << q << " for " << v;
      }
    }
    return roots;
  };
  for (int i = 0; i < 8; ++i) {
    const knotfit::Spline s = RandomSpline(rng, 12);
    const auto form = static_cast<knotfit::TableForm>(i % 3);
    const knotfit::Table t = knotfit::read_table(table_bytes(s, form));
    for (const double v : {-5.0, 0.0, 2.5, s.y()[3]}) {
      check(s, v, s);
      check(t, v, s);
    }
  }
  const knotfit::Spline cube = knotfit::fit({0, 1, 2, 3, 4}, {0, 1, 8, 27, 64});
  EXPECT_EQ(check(cube, 15.625, cube), Points{2.5});
  EXPECT_EQ(check(cube, 64, cube), Points{4});
  EXPECT_EQ(check(cube, 65, cube), Points{});
  EXPECT_EQ(cube.inverse(NAN), Points{});
  const knotfit::Spline level =
      knotfit::fit({0, 1, 2, 3}, {0, 1, 1, 2},
                   knotfit::MethodChoice{knotfit::Method::kPchip});
  EXPECT_EQ(check(level, 1, level), (Points{1, 2}));
}

// fit -> write -> read, in every form: the fields are the spline's (x - x0
// and y - y0 in the newer forms), rounded once to their precision, and the
// table evaluates as the spline does to that precision. The cube's bytes
// are the hand-written ones of tests/data.
TEST(Api, TableRoundTrip) {
  using F = knotfit::TableForm;
  const struct {
    F form;
    double precision;
    std::string cube;
  } forms[] = {
      {F::kClassic, 0x1p-21, ReadFile(KNOTFIT_DATA "/cube.table")},
      {F::kOffset, 0x1p-21, Bytes(ReadFile(KNOTFIT_DATA "/cube.offset.hex"))},
      {F::kDouble, 0x1p-48, Bytes(ReadFile(KNOTFIT_DATA "/cube.double.hex"))}};
  std::mt19937 rng(3);
  const std::string path = testing::TempDir() + "knotfit-round-trip";
  for (const auto &form : forms) {
    const bool wide = form.form == F::kDouble;
    for (const std::size_t n : {2u, 3u, 5u, 33u}) {
      const knotfit::Spline s = RandomSpline(rng, n);
      const std::vector<unsigned char> bytes = table_bytes(s, form.form);
      std::ostringstream out;
      knotfit::write_table(s, out, form.form);
      ASSERT_EQ(out.str(), std::string(bytes.begin(), bytes.end()));
      WriteFile(path, out.str());
      std::istringstream in(out.str());
      const knotfit::Table tables[] = {knotfit::read_table(bytes),
                                       knotfit::read_table(in),
                                       knotfit::read_table_file(path)};
      const double x0 = form.form == F::kClassic ? 0.0 : s.x()[0];
      for (const knotfit::Table &table : tables) {
        ASSERT_EQ(table.size(), n);
        EXPECT_EQ(table.form(), form.form);
        EXPECT_EQ(table.x0(), x0);
        for (std::size_t k = 0; k < n; ++k) {
          const double x = s.x()[k] - x0;
          EXPECT_EQ(wide ? table.x64()[k] : table.x()[k],
                    wide ? x : static_cast<float>(x));
          const double h = k + 1 < n ? s.x()[k + 1] - s.x()[k] : 0.0;
          for (const double t : {s.x()[k], s.x()[k] + h / 2}) {
            const double scale =
                std::fabs(s.y()[k]) + std::fabs(s.a()[k]) * (h + std::fabs(t)) +
                std::fabs(s.b()[k]) * h * h + std::fabs(s.c()[k]) * h * h * h;
            EXPECT_NEAR(table.value(t), s.value(t), form.precision * scale)
                << t;
          }
        }
      }
    }
    const knotfit::Spline cube =
        knotfit::fit({0, 1, 2, 3, 4}, {0, 1, 8, 27, 64});
    const std::vector<unsigned char> bytes = table_bytes(cube, form.form);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), form.cube);
  }
}

// Abscissas binary32 cannot hold, about their origin: at every knot and
// midpoint the offset form is within 1e-6 of the y range of the fit, the
// double form within 1e-12 (the classic form collapses the epoch seconds
// and misses the decimal years by 1e-5).
TEST(Api, TheOriginKeepsThePrecision) {
  using F = knotfit::TableForm;
  const knotfit::Spline epoch = EpochSeconds(), years = DecimalYears();
  const struct {
    const knotfit::Spline &s;
    F form;
    double within;
  } cases[] = {{epoch, F::kOffset, 1e-6},
               {epoch, F::kDouble, 1e-12},
               {years, F::kOffset, 1e-6},
               {years, F::kDouble, 1e-12}};
  for (const auto &tc : cases) {
    const knotfit::Table t =
        knotfit::read_table(knotfit::table_bytes(tc.s, tc.form));
    const Points &x = tc.s.x();
    const auto [low, high] =
        std::minmax_element(tc.s.y().begin(), tc.s.y().end());
    double worst = 0;
    for (std::size_t k = 0; k < x.size(); ++k) {
      const double next = k + 1 < x.size() ? x[k + 1] : x[k];
      for (const double at : {x[k], (x[k] + next) / 2}) {
        worst = std::max(worst, std::fabs(t.value(at) - tc.s.value(at)));
      }
    }
    EXPECT_LE(worst, tc.within * (*high - *low));
  }
}

// Each form refuses what it cannot store, and only that: epoch seconds
// collapse in binary32 but not about their origin.
TEST(Api, UnwritableTablesAreRefused) {
  using F = knotfit::TableForm;
  const struct {
    Points x, y;
    F form;
    const char *reason;
  } cases[] = {
      {{0, 1, 2},
       {0, 1e39, 0},
       F::kClassic,
       "y of point 1 (1e+39) overflows binary32"},
      {{0, 1, 2},
       {0, 1e39, 0},
       F::kOffset,
       "y - y0 of point 0 (-5e+38) overflows binary32"},
      {{0, 1, 2}, {1e39, 1e39, 1e39}, F::kOffset, ""},
      {{0, 1},
       {1.5e308, 1.7e308},
       F::kDouble,
       "y - y0 of point 0 is not finite (-inf)"},
      {{0, 0x1p-100},
       {0, 0x1p30},
       F::kOffset,
       "a of point 0 (1.361129467683754e+39) overflows binary32"},
      {{1.7e9, 1.7e9 + 1},
       {0, 1},
       F::kClassic,
       "x of points 0 and 1 are both 1.7e+09 in binary32"},
      {{1.7e9, 1.7e9 + 1}, {0, 1}, F::kOffset, ""},
      {{5, 6, 6 + 1e-8},
       {0, 1, 2},
       F::kOffset,
       "x - x0 of points 1 and 2 are both 1 in binary32"},
      {{-1e20, 1, 2},
       {0, 1, 2},
       F::kDouble,
       "x - x0 of points 1 and 2 are both 1e+20 in binary64"},
      // x - x0 rounds up to an even neighbour, and x0 adds it back to
      // DBL_MAX plus half its spacing, a tie that rounds to infinity.
      {{0x3p970, DBL_MAX},
       {0, 1},
       F::kDouble,
       "x - x0 of point 1 (1.7976931348623155e+308): x0 + x or the knots' "
       "span overflows a double"},
  };
  for (const auto &tc : cases) {
    const knotfit::Spline s = knotfit::fit(tc.x, tc.y);
    std::ostringstream out;
    const std::string error =
        ErrorOf([&] { knotfit::write_table(s, out, tc.form); });
    EXPECT_EQ(error, *tc.reason != '\0' ? tc.reason : "no error");
    EXPECT_EQ(out.str().empty(), *tc.reason != '\0');
  }
}

// tests/data/malformed_tables: "hex bytes | message" per line.
TEST(Api, MalformedTablesNameTheDefect) {
  std::istringstream cases(ReadFile(KNOTFIT_DATA "/malformed_tables"));
  int count = 0;
  for (std::string line; std::getline(cases, line); ++count) {
    const std::size_t bar = line.find(" | ");
    const std::string hex = Bytes(line.substr(0, bar));
    const std::vector<unsigned char> bytes(hex.begin(), hex.end());
    EXPECT_EQ(ErrorOf([&] { knotfit::read_table(bytes); }),
              line.substr(bar + 3));
  }
  EXPECT_GE(count, 8);
  EXPECT_EQ(ErrorOf([] { knotfit::read_table_file("/nonexistent/t"); }),
            "/nonexistent/t: cannot open: No such file or directory");
}

// The plot file's sample counts (as the program's tests know them) and the
// steps that cannot advance.
TEST(Api, PlotSamples) {
  const struct {
    Points x;
    std::size_t count;
    const char *reason;
  } cases[] = {
      {{0, 1, 2, 3, 4}, 500, nullptr},
      {{0, 3, 6, 10}, 501, nullptr},
      {{1e12, 1e12 + 0.25, 1e12 + 0.5, 1e12 + 1}, 513, nullptr},
      {{0, 1e-43, 5e-43, 1e-42}, 714, nullptr},
      {{0, 1e40, 1e41, 1e42}, 1, nullptr},
      {{1e15, 1e15 + 1},
       0,
       "plot step 0.0020000000949949026 does not advance x at 1e+15"},
      {{0, 1e-44, 2e-44}, 0, "plot step 0 does not advance x at 0"},
  };
  for (const auto &tc : cases) {
    const knotfit::Spline s = knotfit::fit(tc.x, tc.x);
    if (tc.reason != nullptr) {
      EXPECT_EQ(ErrorOf([&] { s.plot_samples(); }), tc.reason);
      continue;
    }
    const auto samples = s.plot_samples();
    ASSERT_EQ(samples.size(), tc.count);
    EXPECT_EQ(samples.front().t, tc.x.front());
    EXPECT_EQ(samples.back().value, s.value(samples.back().t));
  }
}

} // namespace

// A request carried out is the pieces it replaces, bit for bit: the
// measured rules then the fit, the smoothing fit, the tolerance search in
// the first form whose table meets the bound.
TEST(Api, FitRequestIsItsPieces) {
  namespace detail = knotfit::detail;
  Points x, y;
  for (int i = 0; i < 300; ++i) {
    x.push_back(1.7e9 + 60.0 * i); // epoch seconds: classic cannot hold them
    y.push_back(std::sin(i / 20.0));
  }
  auto bytes = [](const knotfit::Spline &s) {
    return knotfit::table_bytes(s, knotfit::TableForm::kDouble);
  };
  knotfit::Request within;
  within.tolerance = knotfit::Tolerance{1e-3};
  within.automatic_form = true;
  const knotfit::FitResult found = knotfit::fit_request(x, y, {}, within);
  const detail::ToleranceFit offset = detail::FitWithinTolerance(
      {}, 300, x.data(), y.data(), 1e-3, knotfit::TableForm::kOffset);
  EXPECT_EQ(found.form, knotfit::TableForm::kOffset);
  EXPECT_EQ(bytes(found.spline), bytes(detail::SplineOf(offset)));
  ASSERT_TRUE(found.tolerance && found.tolerance->met);
  EXPECT_EQ(found.tolerance->knots, offset.x.size());
  EXPECT_EQ(found.tolerance->error, offset.error);
  // Without a bound, the fit itself in the least form that keeps it.
  knotfit::Request least;
  least.automatic_form = true;
  const knotfit::FitResult all = knotfit::fit_request(x, y, {}, least);
  EXPECT_EQ(all.form, knotfit::TableForm::kOffset);
  EXPECT_EQ(bytes(all.spline), bytes(knotfit::fit(x, y)));
  EXPECT_TRUE(knotfit::check_table(all.spline).flagged);
  EXPECT_FALSE(knotfit::check_table(all.spline, all.form).flagged);

  // Read out of order, two readings at x = 1, one missing.
  knotfit::Request measured;
  measured.method.method = knotfit::Method::kPchip;
  measured.measured = {true, knotfit::Ties::kMean, true};
  const knotfit::FitResult m = knotfit::fit_request(
      {3, 1, 2, 1, 4, 0}, {9, 1, 4, 2, NAN, 0}, {}, measured);
  ASSERT_TRUE(m.measured);
  EXPECT_EQ(m.measured->read, 6u);
  EXPECT_EQ(m.measured->dropped, 1u);
  EXPECT_EQ(m.measured->merged, 1u);
  EXPECT_EQ(bytes(m.spline),
            bytes(knotfit::fit({0, 1, 2, 3}, {0, 1.5, 4, 9}, measured.method)));

  knotfit::Request smoothed;
  smoothed.method.method = knotfit::Method::kSmooth;
  smoothed.smoothing = {knotfit::Smoothing::Rule::kLambda, 0.5};
  const Points w(300, 2.0);
  const knotfit::Spline s = knotfit::fit_request(x, y, w, smoothed).spline;
  EXPECT_EQ(bytes(s), bytes(knotfit::smooth(x, y, w, smoothed.smoothing)));
  ASSERT_TRUE(s.smoothing());
  EXPECT_EQ(s.smoothing()->lambda, 0.5);
}

// A data set is fitted once: --table=auto judges the fit it made, and a
// bound makes one knot search per form it tries, no fit through the points
// besides.
TEST(Api, ADataSetIsFittedOnce) {
  namespace detail = knotfit::detail;
  using Form = knotfit::TableForm;
  Points x, y;
  for (int i = 0; i < 300; ++i) {
    x.push_back(1.7e9 + 60.0 * i); // classic cannot tell them apart
    y.push_back(std::sin(i / 20.0));
  }
  const knotfit::MethodChoice pchip{knotfit::Method::kPchip};
  const knotfit::MethodChoice smooth{knotfit::Method::kSmooth};
  const knotfit::Tolerance e{1e-3};
  auto request = [](knotfit::MethodChoice method,
                    std::optional<knotfit::Tolerance> bound, Form form,
                    bool automatic) {
    knotfit::Request r;
    r.method = method;
    r.tolerance = bound;
    r.form = form;
    r.automatic_form = automatic;
    return r;
  };
  const struct {
    const char *what;
    knotfit::Request request;
    int through, near, searches;
    Form form;
  } cases[] = {
      {"compact", {}, 1, 0, 0, Form::kClassic},
      {"auto", request({}, {}, Form::kClassic, true), 1, 0, 0, Form::kOffset},
      {"smooth, auto", request(smooth, {}, Form::kClassic, true), 0, 1, 0,
       Form::kOffset},
      {"bound, double", request({}, e, Form::kDouble, false), 0, 0, 1,
       Form::kDouble},
      {"bound, auto: classic misses", request(pchip, e, Form::kClassic, true),
       0, 0, 2, Form::kOffset},
      {"smooth, bound", request(smooth, e, Form::kOffset, false), 0, 1, 1,
       Form::kOffset},
  };
  for (const auto &c : cases) {
    Points a(x.size()), b(a), cc(a);
    const detail::DataSetFit fit(c.request, 300, x.data(), y.data(), nullptr,
                                 {a.data(), b.data(), cc.data()}, true);
    EXPECT_TRUE(fit.problem().empty() && fit.refused().empty()) << c.what;
    EXPECT_EQ(fit.made().through, c.through) << c.what;
    EXPECT_EQ(fit.made().near, c.near) << c.what;
    EXPECT_EQ(fit.made().searches, c.searches) << c.what;
    EXPECT_EQ(fit.form(), c.form) << c.what;
  }
}

TEST(Api, FitRequestRefusals) {
  knotfit::Request natural;
  natural.method.method = knotfit::Method::kNatural;
  natural.tolerance = knotfit::Tolerance{0.1};
  knotfit::Request smooth_ties;
  smooth_ties.method.method = knotfit::Method::kSmooth;
  smooth_ties.measured.ties = knotfit::Ties::kFirst;
  knotfit::Request relative;
  relative.tolerance = knotfit::Tolerance{0.0, false, 0.1};
  const struct {
    const knotfit::Request &request;
    knotfit::Naming naming;
    Points y;
    const char *reason;
  } cases[] = {
      {natural,
       knotfit::Naming::kOption,
       {0, 1, 2},
       "option '--tolerance' takes the methods not-a-knot, pchip, akima, "
       "makima, steffen, smooth, not natural"},
      {smooth_ties,
       knotfit::Naming::kKeyword,
       {0, 1, 2},
       "ties does not go with method='smooth', which merges equal x itself"},
      {relative,
       knotfit::Naming::kOption,
       {1, 0, 2},
       "y of point 1 is 0, where E + R|y| allows no error"},
      {knotfit::Request{},
       knotfit::Naming::kOption,
       {0, INFINITY, 2},
       "y of point 1 is not finite (inf)"},
  };
  for (const auto &tc : cases) {
    EXPECT_EQ(
        ErrorOf([&] {
          knotfit::fit_request({0, 1, 2}, tc.y, {}, tc.request, {}, tc.naming);
        }),
        tc.reason);
  }
}
