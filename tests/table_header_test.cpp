// knotfit/table.h compiled as C99 (c_table_test.c) and as C++ (here): the
// decoder and the view on hand-written tables of every form and on every
// defect, the float evaluation, and the double evaluation bit for bit
// against the C++ reader.
#include "knotfit.h"
#include "test_support.h"

#include <knotfit/table.h>
#include <knotfit/table.hpp>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

extern "C" {
int c_table_decode(const unsigned char *table, size_t size, size_t capacity,
                   int32_t *n, float *x, float *y, float *a, float *b,
                   float *c);
float c_table_valuef(float t, int32_t n, const float *x, const float *y,
                     const float *a, const float *b, const float *c);
double c_table_calc(const unsigned char *table, size_t size, int what, double p,
                    double q, int rule);
int c_table_view(const unsigned char *table, size_t size);
}

namespace {

// What knotfit writes for y = x^3 on 0..4 and for the line through (0, 0) and
// (2, 4); a made-up table on 0, 1, 2 whose first segment ends at 2^-30
// (0 in float, where 1 + 2^-30 rounds to 1) while y jumps to 5 at x = 1; and
// one whose knots 1 and 2 collapsed at x = 1 (y 1 and 5): S = t on 0..1, 5
// after.
const char kCube[] =
    "00 00 00 05"
    " 40 80 00 00 42 80 00 00 42 40 00 00 00 00 00 00 00 00 00 00"
    " 40 40 00 00 41 d8 00 00 41 d8 00 00 41 10 00 00 3f 80 00 00"
    " 40 00 00 00 41 00 00 00 41 40 00 00 40 c0 00 00 3f 80 00 00"
    " 3f 80 00 00 3f 80 00 00 40 40 00 00 40 40 00 00 3f 80 00 00"
    " 00 00 00 00 00 00 00 00 27 00 00 00 a7 40 00 00 3f 80 00 00";
const char kLine[] =
    "00 00 00 02"
    " 40 00 00 00 40 80 00 00 40 00 00 00 00 00 00 00 00 00 00 00"
    " 00 00 00 00 00 00 00 00 40 00 00 00 00 00 00 00 00 00 00 00";
const char kOdd[] =
    "00 00 00 03"
    " 40 00 00 00 40 a0 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    " 3f 80 00 00 40 a0 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    " 00 00 00 00 3f 80 00 00 30 80 00 00 bf 80 00 00 00 00 00 00";
const char kCollapsed[] =
    "00 00 00 04"
    " 40 00 00 00 40 a0 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    " 3f 80 00 00 40 a0 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    " 3f 80 00 00 3f 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    " 00 00 00 00 00 00 00 00 3f 80 00 00 00 00 00 00 00 00 00 00";

// The cube in the offset and double forms (x0 = 0, y0 = 32).
const std::string kOffsetCube =
    Bytes(ReadFile(KNOTFIT_DATA "/cube.offset.hex"));
const std::string kDoubleCube =
    Bytes(ReadFile(KNOTFIT_DATA "/cube.double.hex"));

double Calc(const std::string &bytes, int what, double p, double q = 0,
            int rule = 0) {
  return c_table_calc(reinterpret_cast<const unsigned char *>(bytes.data()),
                      bytes.size(), what, p, q, rule);
}

struct Decoded {
  int status = -1;
  int32_t n = -1;
  std::vector<float> x, y, a, b, c;

  float ValueF(float t) const {
    return c_table_valuef(t, n, x.data(), y.data(), a.data(), b.data(),
                          c.data());
  }
};

Decoded Decode(const std::string &table, size_t capacity = 8) {
  Decoded d;
  for (auto *v : {&d.x, &d.y, &d.a, &d.b, &d.c}) {
    v->assign(capacity, -1.0f);
  }
  d.status =
      c_table_decode(reinterpret_cast<const unsigned char *>(table.data()),
                     table.size(), capacity, &d.n, d.x.data(), d.y.data(),
                     d.a.data(), d.b.data(), d.c.data());
  return d;
}

// Decoded (classic tables only, as every classic reader reads them) or
// viewed (every form).
TEST(TableHeader, EveryDefectHasItsStatus) {
  const std::string cube = Bytes(kCube);
  auto with = [](size_t offset, const char *hex,
                 const std::string &table = Bytes(kCube)) {
    return table.substr(0, offset) + Bytes(hex) + table.substr(offset + 4);
  };
  const std::string &off = kOffsetCube, &wide = kDoubleCube;
  const struct {
    std::string table;
    size_t capacity; // 0: viewed
    int status;
  } cases[] = {
      {"", 8, KNOTFIT_TABLE_SHORT},
      {cube.substr(0, 3), 8, KNOTFIT_TABLE_SHORT},
      {cube.substr(0, 103), 8, KNOTFIT_TABLE_SHORT},
      {with(0, "7f ff ff ff"), 8, KNOTFIT_TABLE_CAPACITY}, // before the size
      {with(0, "00 00 00 09"), 9, KNOTFIT_TABLE_SHORT},
      {with(0, "ff ff ff fb"), 8, KNOTFIT_TABLE_BAD_COUNT},
      {with(0, "80 00 00 00"), 8, KNOTFIT_TABLE_BAD_COUNT},
      {Bytes("00 00 00 00"), 8, KNOTFIT_TABLE_BAD_COUNT},
      {cube + '\0', 8, KNOTFIT_TABLE_SIZE_MISMATCH},
      {cube + cube.substr(4, 20), 8, KNOTFIT_TABLE_SIZE_MISMATCH},
      {with(4, "7f 80 00 00"), 8, KNOTFIT_TABLE_NOT_FINITE},      // x of knot 4
      {with(100, "ff c0 00 00"), 8, KNOTFIT_TABLE_NOT_FINITE},    // c of knot 0
      {with(24, "40 80 00 00"), 8, KNOTFIT_TABLE_OK},             // x3 = x4
      {with(84, "3f c0 00 00"), 8, KNOTFIT_TABLE_NOT_INCREASING}, // x0 > x1
      {cube, 4, KNOTFIT_TABLE_CAPACITY},
      {Bytes(kLine), 2, KNOTFIT_TABLE_OK},
      {off, 8, KNOTFIT_TABLE_BAD_COUNT}, // the magic, as a classic count
      {off.substr(0, 27), 0, KNOTFIT_TABLE_SHORT},
      {with(4, "00 02 00 01", off), 0, KNOTFIT_TABLE_VERSION},
      {with(4, "00 01 00 00", off), 0, KNOTFIT_TABLE_FORM},
      {with(8, "00 00 00 00", off), 0, KNOTFIT_TABLE_BAD_COUNT},
      {with(8, "00 00 00 06", off), 0, KNOTFIT_TABLE_SHORT},
      {with(8, "00 00 00 04", wide), 0, KNOTFIT_TABLE_SIZE_MISMATCH},
      {with(12, "7f f0 00 00", off), 0, KNOTFIT_TABLE_NOT_FINITE}, // x0
      {with(16, "7f f0 00 00", off), 0, KNOTFIT_TABLE_OK}, // x0's low word
      {with(20, "ff f8 00 00", wide), 0, KNOTFIT_TABLE_NOT_FINITE},  // y0
      {with(220, "7f f0 00 00", wide), 0, KNOTFIT_TABLE_NOT_FINITE}, // c
      {with(224, "7f f0 00 00", wide), 0, KNOTFIT_TABLE_OK}, // its low word
      {with(188, "40 00 00 00", wide), 0, KNOTFIT_TABLE_NOT_INCREASING},
      // x0 + x of knot 4 is 2^1024; then the span from -2^1023 to 4.
      {with(28, "7f e0 00 00", with(12, "7f e0 00 00", wide)), 0,
       KNOTFIT_TABLE_RANGE},
      {with(188, "ff e0 00 00", with(28, "7f e0 00 00", wide)), 0,
       KNOTFIT_TABLE_RANGE},
  };
  for (const auto &tc : cases) {
    const Decoded d = Decode(tc.table, tc.capacity);
    const auto *bytes =
        reinterpret_cast<const unsigned char *>(tc.table.data());
    EXPECT_EQ(tc.capacity > 0 ? d.status : c_table_view(bytes, tc.table.size()),
              tc.status)
        << knotfit_table_message(tc.status);
    EXPECT_TRUE(tc.capacity == 0 || (d.n == 0) == (tc.status != 0));
  }
}

// Rounded in float at every step; an interior knot ends the segment before
// it; outside, the end ordinates.
TEST(TableHeader, FloatEvaluation) {
  const Decoded cube = Decode(Bytes(kCube)), odd = Decode(Bytes(kOdd));
  const struct {
    const Decoded &table;
    float t, want;
  } cases[] = {{cube, -1, 0},         {cube, 0.5f, 0.125f},
               {cube, 2.5f, 15.625f}, {cube, 3.75f, 52.734375f},
               {cube, 9, 64},         {odd, 0.5f, 0.75f},
               {odd, 1, 0},           {odd, 1.5f, 5}};
  for (const auto &tc : cases) {
    EXPECT_EQ(tc.table.ValueF(tc.t), tc.want) << tc.t;
  }
  EXPECT_TRUE(std::isnan(cube.ValueF(std::nanf(""))));
  // From the bytes: S - y0 at x0 + t for the classic and offset forms; a
  // float abscissa only for the classic one.
  const struct {
    const std::string &table;
    int what;
    double t, want;
  } bytes[] = {{Bytes(kCube), 5, 2.5, 15.625},
               {kOffsetCube, 6, 2.5, -16.375},
               {kOffsetCube, 6, 9, 32},
               {kOffsetCube, 5, 2.5, NAN},
               {kDoubleCube, 6, 2.5, NAN}};
  for (const auto &tc : bytes) {
    const double got = Calc(tc.table, tc.what, tc.t);
    EXPECT_TRUE(got == tc.want || (std::isnan(got) && std::isnan(tc.want)))
        << tc.what << " at " << tc.t << ": " << got;
  }
}

// Knot k's x and y as S has them: x0 + x, y0 + y (0 + x for the classic
// form).
std::pair<double, double> Knot(const knotfit::Table &t, std::size_t k) {
  if (t.form() == knotfit::TableForm::kDouble) {
    return {t.x0() + t.x64()[k], t.y0() + t.y64()[k]};
  }
  return {t.x0() + t.x()[k], t.y0() + t.y()[k]};
}

// Every double result of table.h, from the bytes in C99 and, for classic
// tables, from decoded arrays in C++, is the C++ reader's (knotfit::Table)
// bit for bit, in every form: every rule beyond the knots; S, S', S''
// outside, at, beside and between the knots; integrals between those
// points; the inverse at the knots' ordinates. At the collapsed x, S is the
// segment's before it.
TEST(TableHeader, EveryResultIsTheCppReaders) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  using E = knotfit::Extrapolation;
  using F = knotfit::TableForm;
  auto same = [](double p, double q) {
    return std::bit_cast<uint64_t>(p) == std::bit_cast<uint64_t>(q) ||
           (std::isnan(p) && std::isnan(q));
  };
  std::vector<std::string> tables = {Bytes(kCube), Bytes(kLine),
                                     Bytes(kOdd),  Bytes(kCollapsed),
                                     kOffsetCube,  kDoubleCube};
  for (const knotfit::Spline &s : {EpochSeconds(), DecimalYears()}) {
    for (const F form : {F::kOffset, F::kDouble}) {
      const std::vector<unsigned char> bytes = table_bytes(s, form);
      tables.emplace_back(bytes.begin(), bytes.end());
    }
  }
  for (const std::string &bytes : tables) {
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const knotfit::Table table = knotfit::read_table(data, bytes.size());
    const std::size_t n = table.size();
    const Decoded d = Decode(bytes, n);
    const bool classic = table.form() == F::kClassic;
    ASSERT_EQ(d.status, classic ? KNOTFIT_TABLE_OK : KNOTFIT_TABLE_BAD_COUNT);
    const knotfit_table arrays = knotfit_table_of(
        d.n, d.x.data(), d.y.data(), d.a.data(), d.b.data(), d.c.data());
    const double first = Knot(table, 0).first;
    const double last = Knot(table, n - 1).first;
    std::vector<double> ts = {-kInf, kInf, std::nan("")};
    for (int i = 0; i <= 40; ++i) {
      ts.push_back(first - 1 + (last - first + 2) * i / 40);
    }
    for (std::size_t k = 0; k < n; ++k) {
      const double x = Knot(table, k).first;
      ts.insert(ts.end(),
                {std::nextafter(x, -kInf), x, std::nextafter(x, kInf)});
    }
    const std::string what_table = TableFormName(table.form());
    for (const E e : {E::kClamp, E::kLinear, E::kCubic, E::kNan}) {
      const auto rule = static_cast<knotfit_extrapolation>(e);
      for (const double t : ts) {
        const double want[3] = {table.value(t, e), table.derivative(t, e),
                                table.second_derivative(t, e)};
        const double cpp[3] = {
            knotfit_table_at(&arrays, t, rule),
            knotfit_table_derivative(&arrays, t, rule),
            knotfit_table_second_derivative(&arrays, t, rule)};
        for (int what = 0; what < 3; ++what) {
          EXPECT_TRUE(
              same(Calc(bytes, what, t, 0, static_cast<int>(e)), want[what]))
              << what_table << " order " << what << " at " << t;
          EXPECT_TRUE(!classic || same(cpp[what], want[what]));
        }
        const double lo =
            ts[static_cast<std::size_t>(&t - ts.data()) * 7 % ts.size()];
        EXPECT_TRUE(same(Calc(bytes, 3, lo, t, static_cast<int>(e)),
                         table.integral(lo, t, e)))
            << what_table << " from " << lo << " to " << t;
      }
    }
    for (std::size_t k = 0; k < 2 * n; k += 1 + n / 8) {
      const double v =
          Knot(table, k / 2).second + static_cast<double>(k % 2) * 0.3;
      const std::vector<double> want = table.inverse(v);
      std::vector<double> roots(64);
      roots.resize(knotfit_table_inverse(&arrays, v, roots.data(), 64));
      EXPECT_TRUE(!classic || roots == want) << what_table << " at " << v;
      EXPECT_TRUE(same(Calc(bytes, 4, v), want.empty() ? -1 : want[0]))
          << what_table << " at " << v;
    }
  }
  const knotfit::Table collapsed = knotfit::read_table(
      reinterpret_cast<const unsigned char *>(Bytes(kCollapsed).data()), 84);
  EXPECT_EQ(collapsed.value(1), 1);
  EXPECT_EQ(collapsed.value(1.5), 5);
  EXPECT_EQ(collapsed.inverse(5), (std::vector<double>{1, 2}));
  EXPECT_EQ(collapsed.integral(0, 2), 5.5);
}

} // namespace
