// The flags of the report and --fail-on, each on data made to raise it and
// on data made not to; the other methods that avoid a flag.
#include "knotfit_internal.h"
#include "report/diagnostics.h"
#include "report/html_report.h"
#include "report/plot_envelope.h"

#include "knotfit/table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using knotfit::Method;
using knotfit::detail::JsonString;
using Points = std::vector<double>;

// maps/monotone: a sensor curve that rises from 0 to 1 in a step.
const Points kStepX = {0, 1, 2, 3, 3.5, 4, 5, 6, 7, 8};
const Points kStepY = {0, 0, 0.01, 0.05, 0.5, 0.95, 0.99, 1, 1, 1};
const Points kFallY = {1, 1, 0.99, 0.95, 0.5, 0.05, 0.01, 0, 0, 0};

Points Sines() {
  Points y;
  for (int i = 0; i < 12; ++i) {
    y.push_back(std::sin(0.9 * i));
  }
  return y;
}

// binary32 on the table in the form written, and the later form that avoids
// it (classic: none asked).
TEST(Diagnostics, EachFlagOnDataMadeToRaiseItAndNotTo) {
  using Form = knotfit::TableForm;
  const struct {
    const char *what;
    Points x, y;
    Method method;
    FlagSet flags;
    Form form = Form::kClassic, avoided_by = Form::kClassic;
  } kCases[] = {
      {"the cube", {0, 1, 2, 3, 4}, {0, 1, 8, 27, 64}, Method::kNotAKnot, 0},
      {"a step, not-a-knot", kStepX, kStepY, Method::kNotAKnot,
       Bit(Flag::kOvershoot) | Bit(Flag::kNotMonotone)},
      {"a step, pchip", kStepX, kStepY, Method::kPchip, 0},
      {"a falling step, not-a-knot", kStepX, kFallY, Method::kNotAKnot,
       Bit(Flag::kOvershoot) | Bit(Flag::kNotMonotone)},
      {"peaks of oscillating data",
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
       Sines(),
       Method::kNotAKnot,
       0},
      // The cubic coefficients underflow: 2e-41 is a subnormal in binary32.
      {"x near 3e10, y near 1e-14",
       {3e10, 3.1e10, 3.2e10, 3.3e10, 3.4e10, 3.5e10},
       {1e-14, 3e-14, 2e-14, 5e-14, 4e-14, 6e-14},
       Method::kNotAKnot,
       Bit(Flag::kBinary32),
       Form::kClassic,
       Form::kDouble},
      {"x near 3e10, y near 1e-14, offset form",
       {3e10, 3.1e10, 3.2e10, 3.3e10, 3.4e10, 3.5e10},
       {1e-14, 3e-14, 2e-14, 5e-14, 4e-14, 6e-14},
       Method::kNotAKnot,
       Bit(Flag::kBinary32),
       Form::kOffset,
       Form::kDouble},
      {"epoch seconds",
       {1.7e9, 1.7e9 + 1, 1.7e9 + 2, 1.7e9 + 3},
       {0, 1, 2, 3},
       Method::kNotAKnot,
       Bit(Flag::kBinary32),
       Form::kClassic,
       Form::kOffset},
      {"epoch seconds, offset form",
       {1.7e9, 1.7e9 + 1, 1.7e9 + 2, 1.7e9 + 3},
       {0, 1, 2, 3},
       Method::kNotAKnot,
       0,
       Form::kOffset},
      {"1e8 and 1e8 + 1, offset form",
       {0, 1e8, 1e8 + 1},
       {0, 1e8, 1e8 + 1},
       Method::kNotAKnot,
       Bit(Flag::kBinary32) | Bit(Flag::kSpacing),
       Form::kOffset,
       Form::kDouble},
      {"gaps 1 and 0.0005",
       {0, 1, 2, 3, 3.0005, 4},
       {0, 1, 4, 9, 9.003, 16},
       Method::kNotAKnot,
       Bit(Flag::kSpacing)},
      {"gaps 1 and 0.002",
       {0, 1, 2, 3, 3.002, 4},
       {0, 1, 4, 9, 9.012, 16},
       Method::kNotAKnot,
       0},
  };
  for (const auto &c : kCases) {
    const knotfit::MethodChoice method{c.method};
    const knotfit::Spline s = knotfit::fit(c.x, c.y, method);
    const Diagnosis d = Diagnose(s, method, c.form);
    EXPECT_EQ(d.flags(), c.flags) << c.what;
    const bool flagged = (c.flags & Bit(Flag::kBinary32)) != 0;
    for (const Finding &f : d.findings) {
      EXPECT_EQ(f.avoided_by_form.value_or(Form::kClassic),
                f.flag == Flag::kBinary32 ? c.avoided_by : Form::kClassic)
          << c.what;
    }
    EXPECT_EQ(knotfit::least_table_form(s), flagged ? c.avoided_by : c.form)
        << c.what;
  }
}

// A field that narrows to zero or a subnormal, at any knot, in the form
// written: the offset form stores y - y0, whatever y itself is.
TEST(Diagnostics, NarrowingToZeroIsFoundAtAnyKnot) {
  const Points x = {0, 1, 2, 3, 4}, far = {0, 1e4, 2e4, 3e4, 4e4};
  const struct {
    Points x, y;
    knotfit::TableForm form;
    std::string cause; // empty: no field narrows
  } kCases[] = {
      {x,
       {1, 2, 3, 1e-50, 5},
       knotfit::TableForm::kClassic,
       "y of knot 3 (1e-50) narrows to zero"},
      {far,
       {1e-30, 3e-30, 2e-30, 5e-30, 4e-30},
       knotfit::TableForm::kClassic,
       "c of knot 0 (1.7916666666666662e-42) narrows to a subnormal"},
      {x,
       {-1, 1e-50, 1, 0.5, 1},
       knotfit::TableForm::kOffset,
       "y - y0 of knot 1 (1e-50) narrows to zero"},
      {x, {1e-50, 2, 4, 6, 8}, knotfit::TableForm::kOffset, ""},
      {x, {1, 2, 3, 1e-50, 5}, knotfit::TableForm::kDouble, ""},
  };
  for (const auto &c : kCases) {
    const Diagnosis d = Diagnose(knotfit::fit(c.x, c.y), {}, c.form);
    const auto b32 = std::find_if(
        d.findings.begin(), d.findings.end(),
        [](const Finding &f) { return f.flag == Flag::kBinary32; });
    EXPECT_EQ(b32 == d.findings.end() ? "" : b32->cause, c.cause) << c.y[0];
  }
}

// The binary32 difference is the largest there is: no sample of the table's
// curve, as its readers evaluate it, lies farther from the fit. Knots that
// move when rounded (x near 3e7), and knots that do not while the rest of
// the fields round (y near 1e6).
TEST(Diagnostics, Binary32DifferenceIsTheLargest) {
  for (const double x0 : {3e7, 0.0}) {
    Points x, y;
    for (int i = 0; i < 40; ++i) {
      x.push_back(x0 == 0.0 ? i : x0 + 10.0 * i + 3.3 * std::sin(i));
      y.push_back((x0 == 0.0 ? 1e6 : 0.0) + std::cos(0.4 * i) + 1e-3 * i);
    }
    const knotfit::Spline s = knotfit::fit(x, y);
    const knotfit::Table t = knotfit::read_table(knotfit::table_bytes(s));
    double sampled = 0.0;
    for (int j = 0; j <= 400000; ++j) {
      const double at = x.front() + (x.back() - x.front()) * j / 400000.0;
      sampled = std::max(sampled, std::fabs(t.value(at) - s.value(at)));
    }
    const Diagnosis d = Diagnose(s, {});
    ASSERT_FALSE(d.findings.empty());
    const Finding &b32 = d.findings.back();
    ASSERT_EQ(b32.flag, Flag::kBinary32);
    EXPECT_GE(b32.amount, sampled * (1 - 1e-6)) << x0; // rounding apart
    EXPECT_LE(b32.amount, 1.01 * sampled) << x0;
    EXPECT_EQ(std::fabs(t.value(b32.at) - s.value(b32.at)), b32.amount);
  }
}

// Each flag's amount and place on data where both follow by hand.
// x = 0 1 3 4, y = 0 0 0 1: not-a-knot on four points is their cubic,
// g = x(x-1)(x-3)/12, which turns at (4 -+ sqrt 7)/3: up to g(t1) ~ 0.0526
// on [0, 1], down to g(t2) ~ -0.176 on [1, 3], both against a band [0, 0];
// the rising data see a fall of g(t1) - g(t2) there. The line through
// (100000001, 0) and (100000009, 8): binary32 moves its knots to 1e8 and
// 100000008, so the table's line runs 1 above the fit's from x[0] to its
// second knot, where it turns flat. The cubic f(u) = u^3 - 36u^2 - 200u at
// x = 100000001 + u, u = 0, 8, ..., 32: knots and fields binary32 holds,
// but for the knots, which move to 1e8 + u, so that the table's curve is
// f(u + 1): T - S = 3u^2 - 69u - 235, largest in size where it turns, at
// u = 11.5, inside the second segment (-631.75; -595 at both its ends, 509
// at the table's last knot). Gaps 1, 1, 1, 0.0005, 0.9995: the ratio
// is 1 / (3.0005 - 3), at the narrow gap, whose width is the double 3.0005
// (3.00050000000000016698...) less 3.
TEST(Diagnostics, AmountAndPlaceKnownByHand) {
  const double t1 = (4.0 - std::sqrt(7.0)) / 3.0;
  const double t2 = (4.0 + std::sqrt(7.0)) / 3.0;
  auto g = [](double t) { return t * (t - 1.0) * (t - 3.0) / 12.0; };
  const struct {
    Points x, y;
    Flag flag;
    double amount, at;
    const char *cause;
  } kCases[] = {
      {{0, 1, 3, 4}, {0, 0, 0, 1}, Flag::kOvershoot, -g(t2), t2, ""},
      {{0, 1, 3, 4}, {0, 0, 0, 1}, Flag::kNotMonotone, g(t1) - g(t2), t2, ""},
      {{100000001, 100000009}, {0, 8}, Flag::kBinary32, 1.0, 100000001, ""},
      {{100000001, 100000009, 100000017, 100000025, 100000033},
       {0, -3392, -8320, -11712, -10496},
       Flag::kBinary32,
       631.75,
       100000012.5,
       ""},
      {{0, 1, 2, 3, 3.0005, 4},
       {0, 1, 4, 9, 9.003, 16},
       Flag::kSpacing,
       1.0 / (3.0005 - 3.0),
       3.0,
       "gap 1 after x = 0, gap 0.000500000000000167 after x = 3"},
  };
  for (const auto &c : kCases) {
    const Diagnosis d = Diagnose(knotfit::fit(c.x, c.y), {});
    const auto f =
        std::find_if(d.findings.begin(), d.findings.end(),
                     [&c](const Finding &one) { return one.flag == c.flag; });
    ASSERT_NE(f, d.findings.end()) << InfoOf(c.flag).name;
    EXPECT_NEAR(f->amount, c.amount, 1e-9 * c.amount) << InfoOf(c.flag).name;
    EXPECT_NEAR(f->at, c.at, 1e-9 * std::max(1.0, c.at)) << InfoOf(c.flag).name;
    EXPECT_EQ(f->cause, c.cause);
  }
}

// The slope 3(u - 1e-9)(u - 1) has a root close to 0, which the textbook
// formula would lose to cancellation.
TEST(Diagnostics, TurningPointsKeepTheirDigits) {
  const knotfit::detail::Roots r =
      knotfit::detail::TurningPoints(3e-9, -1.5 * (1 + 1e-9), 1.0, 2.0);
  ASSERT_EQ(r.n, 2u);
  EXPECT_NEAR(r.u[0], 1e-9, 1e-9 * 1e-14);
  EXPECT_NEAR(r.u[1], 1.0, 1e-14);
  EXPECT_EQ(knotfit::detail::TurningPoints(3e-9, -1.5 * (1 + 1e-9), 1.0, 0.5).n,
            1u);
}

TEST(Diagnostics, SayHowMuchWhereAndWhichMethodsAvoidIt) {
  const Diagnosis d = Diagnose(knotfit::fit(kStepX, kStepY), {});
  ASSERT_EQ(d.findings.size(), 2u);
  // S dips to -0.062 between x = 2 and 3, where the band is [0.01, 0.05].
  const Finding &over = d.findings[0];
  EXPECT_NEAR(over.amount, 0.072, 0.001);
  EXPECT_GT(over.at, 2.0);
  EXPECT_LT(over.at, 3.0);
  const std::vector<Method> monotone = {Method::kPchip, Method::kSteffen};
  EXPECT_EQ(d.findings[1].avoided_by, monotone);
  for (const Method m : monotone) {
    EXPECT_NE(std::find(over.avoided_by.begin(), over.avoided_by.end(), m),
              over.avoided_by.end());
  }
  // Segments [0, 3] and [4, 8] swing past their points; [3, 4] does not.
  ASSERT_EQ(d.overshoot.size(), 7u);
  EXPECT_EQ(d.overshoot[2].to, 3.0);
  EXPECT_EQ(d.overshoot[3].from, 4.0);
}

// A table written for a bound is judged on its own curve between the data:
// a few knots of the step swing past points that pchip through every point
// stays between; the swing is flagged unless the bound allows it. The amount
// is checked against T sampled densely on each data interval.
TEST(Diagnostics, ToleranceTableJudgedBetweenTheData) {
  const knotfit::Spline fit = knotfit::fit(kStepX, kStepY, {Method::kPchip});
  ASSERT_EQ(Diagnose(fit, {Method::kPchip}).flags() & Bit(Flag::kOvershoot),
            0u);
  const knotfit::Spline table = knotfit::fit(
      Points{0, 3, 4, 8}, Points{0, 0.05, 0.95, 1}, {Method::kNatural});
  double swing = 0.0;
  for (size_t i = 0; i + 1 < kStepX.size(); ++i) {
    const double lo = std::min(kStepY[i], kStepY[i + 1]);
    const double hi = std::max(kStepY[i], kStepY[i + 1]);
    for (int k = 0; k <= 4000; ++k) {
      const double t = kStepX[i] + (kStepX[i + 1] - kStepX[i]) * k / 4000;
      swing = std::max({swing, lo - table.value(t), table.value(t) - hi});
    }
  }
  const struct {
    double e, r;
    bool flagged;
  } cases[] = {{0.01, 0.0, true}, {0.0, 0.001, true}, {2 * swing, 0.0, false}};
  for (const auto &c : cases) {
    const Diagnosis d = DiagnoseTable(table, {kStepX, kStepY}, c.e, c.r);
    const bool flagged = (d.flags() & Bit(Flag::kOvershoot)) != 0;
    EXPECT_EQ(flagged, c.flagged) << c.e << " " << c.r;
    if (flagged) {
      EXPECT_NEAR(d.findings[0].amount, swing, 1e-6 * swing);
      EXPECT_TRUE(d.findings[0].avoided_by.empty());
    }
  }
}

TEST(Diagnostics, EnvelopeHoldsEveryExtremeOfItsColumn) {
  // Columns from x = 10 on, and from x = -20 on (where a segment's length
  // taken as the sum of its ends would miss its turning points).
  for (const double from : {10.0, -20.0}) {
    Points x = kStepX;
    for (double &v : x) {
      v += from;
    }
    const knotfit::Spline s = knotfit::fit(x, kStepY);
    const knotfit::Table t = knotfit::read_table(knotfit::table_bytes(s));
    const double width = 8.0 / kPlotColumns;
    // Each column's extremes are those of S (and of the table's curve)
    // there, to within what 64 samples a column can miss: no value is put
    // in another column, none of a column is left out.
    const Envelope of_fit = EnvelopeOf(s),
                   of_table = EnvelopeOf(t, from, from + 8.0);
    for (const auto &[e, table] :
         {std::pair{&of_fit, false}, std::pair{&of_table, true}}) {
      ASSERT_EQ(e->low.size(), kPlotColumns);
      for (size_t c = 0; c < kPlotColumns; ++c) {
        double low = INFINITY, high = -INFINITY;
        for (int j = 0; j <= 64; ++j) {
          const double at = from + width * (static_cast<double>(c) + j / 64.0);
          const double v = table ? t.value(at) : s.value(at);
          low = std::min(low, v);
          high = std::max(high, v);
        }
        EXPECT_NEAR(e->low[c], low, 1e-7) << from << " " << c;
        EXPECT_NEAR(e->high[c], high, 1e-7) << from << " " << c;
      }
    }
  }
}

// Names are bytes; the JSON of knotfit --json and of knotfit-export is
// UTF-8, each byte of a bad sequence one U+FFFD.
TEST(JsonSummary, StringsAreValidJson) {
  const struct {
    std::string text, json;
  } kCases[] = {
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\x01\x1f", "\"\\u0001\\u001f\""},
      {"caf\xc3\xa9 \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xf0\x9f\x98\x80\""},
      {"\xe0\x80\x80", "\"\\ufffd\\ufffd\\ufffd\""},            // overlong
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},            // a surrogate
      {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""}, // > U+10FFFF
      {"x\xff\xc3", "\"x\\ufffd\\ufffd\""}, // not a lead; cut short
  };
  for (const auto &c : kCases) {
    EXPECT_EQ(JsonString(c.text), c.json) << c.json;
  }
}

// A name skipped for its NUL byte reaches the page as the messages show it,
// not as a byte a browser drops.
TEST(HtmlReport, NulByteOfANameShownAsInMessages) {
  DataSetRecord r;
  r.name = std::string("a\0x<", 4);
  r.skipped = "name holds a NUL byte";
  const std::string row = HtmlIndexRow(r, 0);
  EXPECT_EQ(row.find('\0'), std::string::npos);
  EXPECT_NE(row.find(">a\\x00x&lt;</a>"), std::string::npos) << row;
}

} // namespace
