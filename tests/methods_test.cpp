// The fits: the not-a-knot cube's exact bits, SciPy's fits and hand-worked
// slopes from tests/data/methods, and on random data the properties each
// method promises. (getValue is checked against the C reader in
// table_header_test.)
#include "fit/methods.h"
#include "fit/workspace.h"
#include "knotfit.h"
#include "knotfit/request.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using knotfit::Method;
using knotfit::MethodChoice;
using Values = std::vector<double>;

struct Fit {
  Values x, y, a, b, c;
  double at(double t) const {
    return getValue(t, static_cast<int32_t>(x.size()), x.data(), y.data(),
                    a.data(), b.data(), c.data());
  }
};

// The fit, after MethodProblem has passed the points.
Fit FitWith(const MethodChoice &choice, const Values &x, const Values &y) {
  const auto n = static_cast<int32_t>(x.size());
  EXPECT_EQ(knotfit::MethodProblem(choice, n, x.data(), y.data()), "");
  Fit f{x, y, Values(x.size(), NAN), Values(x.size(), NAN),
        Values(x.size(), NAN)};
  knotfit::ComputeSpline(choice, n, x.data(), y.data(), f.a.data(), f.b.data(),
                         f.c.data());
  return f;
}

// Fixture cases: a line "fit METHOD NAME" or "problem METHOD", then rows of
// numbers ("x 0 1 2"; y, a, b, c alike) and "message TEXT".
struct Case {
  std::string head, method, message;
  std::map<std::string, Values> rows;
};

std::vector<Case> ReadCases(const std::string &path) {
  std::vector<Case> cases;
  std::ifstream in(path);
  for (std::string line, key; std::getline(in, line);) {
    std::istringstream words(line);
    if (!(words >> key) || key[0] == '#') {
      continue;
    }
    if (key == "fit" || key == "problem") {
      cases.push_back({line, "", "", {}});
      words >> cases.back().method;
    } else if (key == "message") {
      cases.back().message = line.substr(key.size() + 1);
    }
    for (double v = 0; words >> v;) {
      cases.back().rows[key].push_back(v);
    }
  }
  return cases;
}

// The stored tables of y = x^3 on 0..4 depend on these exact doubles, in every
// build type: a changed grouping or a fused multiply-add shows up here.
TEST(ComputeCubicSpline, CubeIsBitExact) {
  const double x[] = {0, 1, 2, 3, 4}, y[] = {0, 1, 8, 27, 64};
  Values a(5, NAN), b(a), c(a);
  ComputeCubicSpline(5, x, y, a.data(), b.data(), c.data());
  EXPECT_EQ(a, (Values{0x1p-49, 2.999999999999999, 12.000000000000002,
                       26.999999999999993, 48.000000000000014}));
  EXPECT_EQ(b, (Values{-2.6645352591003757e-15, 3.000000000000001,
                       6.000000000000005, 9.000000000000007, 0.0}));
  EXPECT_EQ(c, (Values{1.0000000000000009, 1.0, 0.9999999999999929, 1.0, 0.0}));
}

TEST(ComputeSpline, MatchesReferenceFitsAndRefusals) {
  for (const char *file : {"scipy.txt", "published.txt"}) {
    const auto cases =
        ReadCases(std::string(KNOTFIT_DATA "/methods") + "/" + file);
    ASSERT_GT(cases.size(), 5u) << file;
    for (const Case &test : cases) {
      SCOPED_TRACE(std::string(file) + ": " + test.head);
      MethodChoice choice;
      ASSERT_TRUE(knotfit::ParseMethod(test.method, choice));
      const Values &x = test.rows.at("x"), &y = test.rows.at("y");
      if (!test.message.empty()) {
        EXPECT_EQ(knotfit::MethodProblem(choice, static_cast<int32_t>(x.size()),
                                         x.data(), y.data()),
                  test.message);
        continue;
      }
      const Fit f = FitWith(choice, x, y);
      for (const auto &[key, got] :
           {std::pair{"a", &f.a}, std::pair{"b", &f.b}, std::pair{"c", &f.c}}) {
        const auto want = test.rows.find(key);
        for (size_t i = 0; want != test.rows.end() && i < x.size(); ++i) {
          const double w = want->second.at(i);
          EXPECT_NEAR((*got)[i], w, 1e-12 * std::max(1.0, std::fabs(w)))
              << key << "[" << i << "]";
        }
      }
    }
  }
}

// Every method on random data, and what it promises beyond interpolation
// (its end conditions are checked against SciPy's fits): monotone data give
// a monotone fit; y stays level along each run of `flat` or more segments
// with equal ends (0: no such promise).
const struct Row {
  MethodChoice choice;
  bool monotone;
  int flat;
} kRows[] = {{{Method::kNotAKnot}, false, 0},
             {{Method::kNatural}, false, 0},
             {{Method::kClamped, -1.5, 0.75}, false, 0},
             {{Method::kPeriodic}, false, 0},
             {{Method::kPchip}, true, 1},
             {{Method::kAkima}, false, 0},
             {{Method::kMakima}, false, 2},
             {{Method::kSteffen}, true, 1}};

TEST(ComputeSpline, RandomDataKeepEveryPromise) {
  std::mt19937 rng(20240613);
  std::uniform_real_distribution<double> gap(0.05, 2.0), value(-3.0, 3.0);
  for (const Row &row : kRows) {
    const Method method = row.choice.method;
    SCOPED_TRACE(knotfit::MethodName(method));
    for (const size_t n : {3u, 4u, 5u, 9u, 30u}) {
      // Uneven knots, random values; the last equal to the first if periodic.
      Values x{-1.0}, y{value(rng)};
      while (x.size() < n) {
        x.push_back(x.back() + gap(rng));
        y.push_back(value(rng));
      }
      y[n - 1] = method == Method::kPeriodic ? y[0] : y[n - 1];
      const Fit f = FitWith(row.choice, x, y);
      for (size_t k = 0; k < n; ++k) {
        EXPECT_NEAR(f.at(x[k]), y[k], 1e-12 * (1.0 + std::fabs(f.a[k])));
      }
      if (!row.monotone && row.flat == 0) {
        continue;
      }
      // Rising (even n) or falling data: level runs, small steps and jumps.
      const double sign = n % 2 == 0 ? 1.0 : -1.0;
      while (x.size() < n + 20) {
        x.push_back(x.back() + gap(rng));
      }
      y.resize(n + 20);
      for (size_t k = 1; k < n + 20; ++k) {
        const double step = std::array{0.0, 0.1, 5.0}[rng() % 3];
        y[k] = y[k - 1] + sign * step * std::fabs(value(rng));
      }
      const Fit m = FitWith(row.choice, x, y);
      auto flat = [&](size_t k) { return k < n + 19 && y[k] == y[k + 1]; };
      double before = y[0];
      for (size_t k = 0; k < n + 19; ++k) {
        const bool level =
            row.flat > 0 && flat(k) &&
            (row.flat == 1 || (k > 0 && flat(k - 1)) || flat(k + 1));
        for (int j = 1; j < 40; ++j) { // inside the segment
          const double t = x[k] + (x[k + 1] - x[k]) * j / 40.0, v = m.at(t);
          EXPECT_TRUE(!level || v == y[k]) << "level at " << t;
          EXPECT_TRUE(!row.monotone ||
                      sign * (v - before) >= -1e-12 * (1 + std::fabs(v)))
              << "monotone at " << t << ": " << v << " after " << before;
          before = v;
        }
      }
    }
  }
}

TEST(ParseMethod, ClampedSlopesAndBadNames) {
  MethodChoice got; // every plain name is read by the fixture test
  ASSERT_TRUE(knotfit::ParseMethod("clamped=-1.5,2e-3", got));
  for (const char *bad :
       {"", "Natural", "pchip ", "clamped=", "clamped=1", "clamped=1,",
        "clamped=,1", "clamped=1,2,3", "clamped=1;2", "clamped= 1,2",
        "clamped=+1,2", "clamped=0x1,2", "clamped=nan,0", "clamped=1,inf",
        "clamped=1e999,0", "natural=1,2"}) {
    EXPECT_FALSE(knotfit::ParseMethod(bad, got)) << bad; // got left alone
  }
  EXPECT_EQ(got.method, Method::kClamped);
  EXPECT_EQ(got.start_slope, -1.5);
  EXPECT_EQ(got.end_slope, 0.002);
  // The library takes slopes ParseMethod never gives; the data set is refused.
  const double x[] = {0, 1};
  EXPECT_EQ(knotfit::MethodProblem({Method::kClamped, 0, INFINITY}, 2, x, x),
            "clamped end slope is not finite (inf)");
}

} // namespace

namespace {

// The plot's walk over the segments gives the values of the search, for the
// SplineTable form (pchip, and not-a-knot for the double table) and the
// compact one (a long not-a-knot fit for the other tables), where samples
// fall on knots, just below them, inside segments and beyond the ends, and
// between two knots 2^-40 apart: the plot file is the same in every form.
TEST(TableForm, ValueAfterIsTheSearchedValue) {
  const Values x = {0, 7, 7.5, 100, 250, 251, 499.0 - 0x1p-40, 499, 500};
  Values y;
  for (double v : x) {
    y.push_back(std::sin(v / 30.0) * 40.0);
  }
  const auto n = static_cast<int32_t>(x.size());
  for (const char *name : {"pchip", "not-a-knot"}) {
    MethodChoice method;
    ASSERT_TRUE(knotfit::ParseMethod(name, method));
    Workspace work, classic_work;
    knotfit::Request request;
    request.method = method;
    const knotfit::detail::DataSetFit classic(
        request, n, x.data(), y.data(), nullptr, classic_work.Arrays(x.size()),
        true);
    for (const auto form :
         {knotfit::TableForm::kOffset, knotfit::TableForm::kDouble}) {
      request.form = form;
      const knotfit::detail::DataSetFit fit(
          request, n, x.data(), y.data(), nullptr, work.Arrays(x.size()), true);
      knotfit::detail::DataSetFit::Walk walk;
      for (double t = -1.0; t <= 501.0; t += 0.25) {
        for (double u : {std::nextafter(t, -1e9), t}) {
          EXPECT_EQ(fit.ValueAfter(u, walk), classic.Value(u))
              << name << " " << u;
        }
      }
      EXPECT_EQ(walk.segment, x.size() - 2) << name;
    }
  }
}

} // namespace

// The rules between a request's parts, from the rows, in both namings: the
// program's must stay as it always printed them.
TEST(Request, RulesFromTheRows) {
  using knotfit::Naming;
  using knotfit::Parameter;
  using P = std::vector<Parameter>;
  const knotfit::Tolerance bound{0.1, false};
  struct Case {
    Method method;
    bool tolerance;
    knotfit::Ties ties;
    P given;
    const char *option, *keyword;
  } cases[] = {
      {Method::kNotAKnot, true, knotfit::Ties::kMean, {}, "", ""},
      {Method::kSmooth,
       false,
       knotfit::Ties::kKeep,
       {Parameter::kLambda, Parameter::kWeights},
       "",
       ""},
      {Method::kClamped,
       false,
       knotfit::Ties::kKeep,
       {Parameter::kEndSlopes},
       "",
       ""},
      {Method::kNatural,
       true,
       knotfit::Ties::kKeep,
       {Parameter::kLambda},
       "option '--tolerance' takes the methods not-a-knot, pchip, akima, "
       "makima, steffen, smooth, not natural",
       "tolerance takes the methods not-a-knot, pchip, akima, makima, "
       "steffen, smooth, not natural"},
      {Method::kPchip,
       false,
       knotfit::Ties::kKeep,
       {Parameter::kWeights, Parameter::kLambda},
       "option '--lambda' needs -m smooth",
       "lam needs method='smooth'"},
      {Method::kAkima,
       false,
       knotfit::Ties::kKeep,
       {Parameter::kLambda, Parameter::kWeights},
       "option '--weights' needs -m smooth",
       "w needs method='smooth'"},
      {Method::kSmooth,
       false,
       knotfit::Ties::kKeep,
       {Parameter::kEndSlopes},
       "option '-m clamped=D0,DN' needs -m clamped",
       "end_slopes needs method='clamped'"},
      {Method::kSmooth,
       false,
       knotfit::Ties::kFirst,
       {Parameter::kLambda},
       "option '--ties' does not go with -m smooth, which merges equal x "
       "itself",
       "ties does not go with method='smooth', which merges equal x itself"},
  };
  for (const Case &c : cases) {
    knotfit::Request request;
    request.method.method = c.method;
    request.measured.ties = c.ties;
    if (c.tolerance) {
      request.tolerance = bound;
    }
    EXPECT_EQ(knotfit::RequestProblem(request, c.given, Naming::kOption),
              c.option);
    EXPECT_EQ(knotfit::RequestProblem(request, c.given, Naming::kKeyword),
              c.keyword);
  }
}
