// Tables within a stated error: curves whose fewest knots are known, every
// reader's value at every data point of the written table within E, and
// the bound that binary32 cannot meet.
#include "fit/tolerance_knots.h"
#include "knotfit/spline.hpp"
#include "knotfit/table.h"
#include "knotfit/table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

struct Curve {
  std::vector<double> x, y;
};

Curve Sampled(int n, double lo, double step, double (*f)(double)) {
  Curve c;
  for (int i = 0; i < n; ++i) {
    c.x.push_back(lo + step * i);
    c.y.push_back(f(c.x.back()));
  }
  return c;
}

// A smooth sensor curve with noise of standard deviation 0.01 (the sum of
// twelve uniform numbers of a fixed seed, less 6: the same in every build).
Curve Noisy() {
  Curve c = Sampled(1001, 0.0, 0.1, [](double t) {
    return 2.0 + std::sin(t / 8.0) + 0.05 * t;
  });
  std::mt19937 rng(11);
  for (double &v : c.y) {
    double sum = -6.0;
    for (int k = 0; k < 12; ++k) {
      sum += static_cast<double>(rng()) / 4294967296.0;
    }
    v += 0.01 * sum;
  }
  return c;
}

// White noise of standard deviation 1, n points, a fixed seed.
Curve WhiteNoise(int n) {
  Curve c = Sampled(n, 0.0, 1.0, [](double) { return 0.0; });
  std::mt19937 rng(5);
  for (double &v : c.y) {
    v = static_cast<double>(rng()) / 4294967296.0 - 0.5;
  }
  return c;
}

// A climate chamber's log: a sensor whose true curve is
// T + 0.3 + 0.8 sin(T / 25), read 3 times at each of 34 steps 5 K apart
// with noise of standard deviation 0.06 K, the means of each step.
double ChamberSensor(double t) {
  return t + 0.3 + 0.8 * std::sin(t / 25.0);
}
Curve Chamber() {
  Curve c = Sampled(34, -40.0, 5.0, [](double) { return 0.0; });
  std::mt19937 rng(46);
  for (std::size_t i = 0; i < c.x.size(); ++i) {
    for (int reading = 0; reading < 3; ++reading) {
      double sum = -6.0;
      for (int k = 0; k < 12; ++k) {
        sum += static_cast<double>(rng()) / 4294967296.0;
      }
      c.y[i] += (ChamberSensor(c.x[i]) + 0.06 * sum) / 3.0;
    }
  }
  return c;
}

TEST(Tolerance, FewestKnotsAndEveryReaderWithinTheBound) {
  struct Case {
    const char *what;
    Curve curve;
    knotfit::Method method;
    const char *bound;
    std::size_t most_knots; // as many as the fit takes now; exact: no fewer
    bool exact;
    double knot_at; // a knot expected there (NaN: none)
    bool met;
    knotfit::TableForm form = knotfit::TableForm::kClassic;
    double (*truth)(double) = nullptr; // the table within 2 E of it
  };
  const double none = NAN;
  const Case cases[] = {
      {"cubic",
       Sampled(40, -2.0, 0.125, [](double t) { return t * t * t - 2 * t; }),
       knotfit::Method::kNotAKnot, "1e-5", 2, true, none, true},
      {"line", Sampled(30, 1.0, 0.5, [](double t) { return 3.0 - 0.25 * t; }),
       knotfit::Method::kNotAKnot, "1e-6", 2, true, none, true},
      {"corner, default",
       Sampled(41, 0.0, 0.25, [](double t) { return std::fabs(t - 3.0); }),
       knotfit::Method::kNotAKnot, "1e-3", 14, false, 3.0, true},
      {"corner, pchip",
       Sampled(41, 0.0, 0.25, [](double t) { return std::fabs(t - 3.0); }),
       knotfit::Method::kPchip, "1e-3", 5, false, 3.0, true},
      {"sine, percent",
       Sampled(201, 0.0, 0.0314159, [](double t) { return 5.0 * std::sin(t); }),
       knotfit::Method::kNotAKnot, "0.1%", 8, false, none, true},
      // Knots on every point near the steep end, where the least-squares
      // spline cannot be held, until the removal pass thins them.
      {"log, steep end",
       Sampled(1001, 0.01, 0.00999, [](double t) { return std::log(t); }),
       knotfit::Method::kNotAKnot, "0.001%", 31, false, none, true},
      {"monotone, steffen",
       Sampled(101, 0.1, 0.1, [](double t) { return std::log(t); }),
       knotfit::Method::kSteffen, "1e-3", 19, false, none, true},
      {"makima",
       Sampled(101, 0.0, 0.1, [](double t) { return std::tanh(t - 5.0); }),
       knotfit::Method::kMakima, "1e-3", 27, false, none, true},
      {"epoch seconds, offset form",
       Sampled(300, 1.7e9, 60.0,
               [](double t) { return std::sin((t - 1.7e9) / 3000.0); }),
       knotfit::Method::kNotAKnot, "1e-4", 18, false, none, true,
       knotfit::TableForm::kOffset},
      {"noise at 4 sigma", Noisy(), knotfit::Method::kNotAKnot, "0.04", 11,
       false, none, true},
      // Nearly every point a knot: the errors measured again only near
      // the knots that changed are those of the table read back.
      {"white noise, pchip", WhiteNoise(3000), knotfit::Method::kPchip, "1%",
       2952, false, none, true, knotfit::TableForm::kOffset},
      {"white noise", WhiteNoise(3000), knotfit::Method::kNotAKnot, "1%", 2953,
       false, none, true},
      // Two knots on neighbouring steps leave the piece between them free
      // to bend across the 5 K rise, inside the band.
      {"chamber steps", Chamber(), knotfit::Method::kNotAKnot, "0.05", 17,
       false, none, true, knotfit::TableForm::kClassic, ChamberSensor},
      {"below binary32",
       Sampled(20, 0.0, 1.0, [](double t) { return 1000.0 + 1e-4 * t * t; }),
       knotfit::Method::kNotAKnot, "1e-6", 20, false, none, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const auto n = static_cast<int32_t>(c.curve.x.size());
    knotfit::Tolerance tolerance;
    ASSERT_TRUE(knotfit::ParseTolerance(c.bound, tolerance));
    const double e = knotfit::AbsoluteTolerance(tolerance, n, c.curve.y.data());
    std::size_t reported = 0; // the knots the search said it held last
    const knotfit::ToleranceFit fit = knotfit::FitWithinTolerance(
        {c.method}, n, c.curve.x.data(), c.curve.y.data(), e, c.form,
        [&reported](std::size_t knots) { reported = knots; });
    if (fit.x.size() > 2) {
      EXPECT_GT(reported, 2u); // a search that grew the knots said so
    }
    EXPECT_EQ(fit.met, c.met);
    EXPECT_LE(fit.x.size(), c.most_knots);
    if (c.exact) {
      EXPECT_EQ(fit.x.size(), c.most_knots);
    }
    if (!std::isnan(c.knot_at)) {
      EXPECT_NE(std::find(fit.x.begin(), fit.x.end(), c.knot_at), fit.x.end());
    }
    // The written table read back: the C++ Table and the C header give the
    // error the fit reports, at the point it names.
    const std::vector<unsigned char> bytes =
        knotfit::table_bytes(knotfit::SplineOf(fit), c.form);
    const knotfit::Table table = knotfit::read_table(bytes);
    knotfit_table view{};
    ASSERT_EQ(knotfit_table_view(bytes.data(), bytes.size(), &view),
              KNOTFIT_TABLE_OK);
    double worst = 0.0;
    int32_t at = 0;
    for (int32_t i = 0; i < n; ++i) {
      const double t = c.curve.x[static_cast<std::size_t>(i)];
      const double v = table.value(t);
      EXPECT_EQ(v, knotfit_table_at(&view, t, KNOTFIT_EXTRAPOLATE_CLAMP));
      const double err = std::fabs(v - c.curve.y[static_cast<std::size_t>(i)]);
      if (err > worst) {
        worst = err;
        at = i;
      }
    }
    // Monotone data keep a monotone table with steffen and pchip.
    const bool rising = std::is_sorted(c.curve.y.begin(), c.curve.y.end());
    if (rising && (c.method == knotfit::Method::kSteffen ||
                   c.method == knotfit::Method::kPchip)) {
      for (int k = 1; k <= 2000; ++k) {
        const double t0 =
            fit.x.front() + (fit.x.back() - fit.x.front()) * (k - 1) / 2000.0;
        const double t1 =
            fit.x.front() + (fit.x.back() - fit.x.front()) * k / 2000.0;
        EXPECT_LE(table.value(t0), table.value(t1));
      }
    }
    // Between the points, densely sampled: T within the band of the two
    // points and the fit through every point (itself sampled), up to what
    // sampling misses of either's extremes.
    const knotfit::Spline every =
        knotfit::fit(c.curve.x, c.curve.y, knotfit::MethodChoice{c.method});
    double between = 0.0;
    for (std::size_t i = 0; i + 1 < c.curve.x.size(); ++i) {
      const double x0 = c.curve.x[i], x1 = c.curve.x[i + 1];
      double lo = std::min(c.curve.y[i], c.curve.y[i + 1]);
      double hi = std::max(c.curve.y[i], c.curve.y[i + 1]);
      constexpr int kSamples = 64;
      for (int k = 1; k < kSamples; ++k) {
        const double v = every.value(x0 + (x1 - x0) * k / kSamples);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
      for (int k = 1; k < kSamples; ++k) {
        const double v = table.value(x0 + (x1 - x0) * k / kSamples);
        between = std::max({between, v - hi, lo - v});
      }
    }
    if (c.truth != nullptr) {
      double off = 0.0;
      for (int k = 0; k <= 10000; ++k) {
        const double t =
            fit.x.front() + (fit.x.back() - fit.x.front()) * k / 10000.0;
        off = std::max(off, std::fabs(table.value(t) - c.truth(t)));
      }
      EXPECT_LE(off, 2.0 * e);
    }
    const double slack = 1e-6 * e;
    EXPECT_LE(worst, fit.error);
    EXPECT_LE(between, fit.error + slack);
    EXPECT_EQ(fit.error <= e, c.met);
    if (c.met) {
      EXPECT_LE(std::max(worst, between), e + slack);
    }
    if (fit.error == worst) {
      EXPECT_EQ(c.curve.x[static_cast<std::size_t>(at)], fit.worst_at);
    }
  }
}

// Knots are measured from the first: an x range beyond a double is refused,
// never a table of no knots.
TEST(Tolerance, XRangeThatOverflowsADoubleIsRefused) {
  const double x[] = {-1e308, -5e307, 5e307, 1e308};
  const double y[] = {0, 1, 2, 3};
  for (const knotfit::Method method :
       {knotfit::Method::kNotAKnot, knotfit::Method::kPchip}) {
    for (const knotfit::TableForm form :
         {knotfit::TableForm::kClassic, knotfit::TableForm::kOffset,
          knotfit::TableForm::kDouble}) {
      EXPECT_THROW(knotfit::FitWithinTolerance({method}, 4, x, y, 0.1, form),
                   knotfit::Error);
    }
  }
}

TEST(Tolerance, BoundsAsWritten) {
  const struct {
    const char *text;
    bool ok;
    double value;
    bool percent;
  } cases[] = {{"0.5", true, 0.5, false}, {"1e-4", true, 1e-4, false},
               {"2%", true, 2.0, true},   {".1%", true, 0.1, true},
               {"0", false, 0, false},    {"-1", false, 0, false},
               {"%", false, 0, false},    {"1%%", false, 0, false},
               {" 1", false, 0, false},   {"0x1p-3", false, 0, false},
               {"inf", false, 0, false},  {"1e999", false, 0, false},
               {"", false, 0, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    knotfit::Tolerance t{7.0, false};
    EXPECT_EQ(knotfit::ParseTolerance(c.text, t), c.ok);
    EXPECT_EQ(t.value, c.ok ? c.value : 7.0);
    EXPECT_EQ(t.percent, c.ok && c.percent);
  }
  EXPECT_EQ(knotfit::ToleranceMethods(),
            "not-a-knot, pchip, akima, makima, steffen, smooth");
}

} // namespace

namespace {

// A relative part and a curve to follow: the table read back, sampled
// densely against the points or the curve.
TEST(Tolerance, RelativeBoundAndFollowingASmoothingFit) {
  const Curve thermistor = Sampled(331, -40.0, 0.5, [](double t) {
    return 10000.0 * std::exp(3950.0 * (1.0 / (t + 273.15) - 1.0 / 298.15));
  });
  const knotfit::Spline smooth = knotfit::smooth(Noisy().x, Noisy().y);
  const struct {
    const char *what;
    bool follow;
    knotfit::Bound bound;
    double dense; // |T - f| sampled between f's knots, at most this times E
  } cases[] = {
      {"thermistor, R = 1e-3", false, {0.0, 1e-3}, 0.0},
      {"thermistor, E and R", false, {1.0, 1e-4}, 0.0},
      {"smoothing fit, E", true, {0.01, 0.0}, 1.5},
      {"smoothing fit, E and R", true, {0.002, 0.005}, 1.5},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<double> &x = c.follow ? smooth.x() : thermistor.x;
    const std::vector<double> &y = c.follow ? smooth.y() : thermistor.y;
    const auto n = static_cast<int32_t>(x.size());
    ASSERT_EQ(knotfit::BoundProblem(c.bound, n, y.data()), "");
    const knotfit::ToleranceFit fit =
        c.follow
            ? knotfit::FollowWithinTolerance(smooth, c.bound)
            : knotfit::FitWithinTolerance({}, n, x.data(), y.data(), c.bound);
    EXPECT_TRUE(fit.met);
    const knotfit::ToleranceFit greedy =
        knotfit::GreedyKnots({}, n, x.data(), y.data(), c.bound);
    EXPECT_LE(fit.x.size(), 2 * greedy.x.size());
    EXPECT_LT(fit.x.size(), x.size() / 4);
    const knotfit::Table table =
        knotfit::read_table(knotfit::table_bytes(knotfit::SplineOf(fit)));
    double dense = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      EXPECT_LE(std::fabs(table.value(x[i]) - y[i]),
                c.bound.e + c.bound.r * std::fabs(y[i]));
      for (int k = 1; c.follow && i + 1 < x.size() && k < 64; ++k) {
        const double t = x[i] + (x[i + 1] - x[i]) * k / 64;
        dense = std::max(dense, std::fabs(table.value(t) - smooth.value(t)) /
                                    (c.bound.e + c.bound.r * std::fabs(y[i])));
      }
    }
    EXPECT_LE(dense, c.dense);
  }
  // A reading of 0 with no absolute part: nothing is allowed there.
  const double y[] = {1.0, 0.5, 0.0, -0.5};
  knotfit::ProblemPoint about{};
  EXPECT_EQ(knotfit::BoundProblem({0.0, 1e-3}, 4, y, &about),
            "y of point 2 is 0, where E + R|y| allows no error");
  EXPECT_EQ(about.point, 2);
  EXPECT_EQ(knotfit::BoundProblem({1e-9, 1e-3}, 4, y), "");
  double r = 7.0;
  EXPECT_TRUE(knotfit::ParseRelativeTolerance("0", r) && r == 0.0);
  EXPECT_TRUE(knotfit::ParseRelativeTolerance("1e-3", r) && r == 1e-3);
  for (const char *bad : {"1%", "-1e-3", "", "nan", " 1"}) {
    EXPECT_FALSE(knotfit::ParseRelativeTolerance(bad, r)) << bad;
  }
}

} // namespace
