// knotfit/table.h compiled as C99 (c_table_test.c) and as C++ (here): the
// decoder on hand-written tables and on every defect, the float evaluation,
// and the double evaluation bit for bit against getValue.
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
double c_table_value(double t, int32_t n, const float *x, const float *y,
                     const float *a, const float *b, const float *c);
}

namespace {

// What knotfit writes for y = x^3 on 0..4 and for the line through (0, 0) and
// (2, 4); and a made-up table on 0, 1, 2 whose first segment ends at 2^-30
// (0 in float, where 1 + 2^-30 rounds to 1) while y jumps to 5 at x = 1.
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

TEST(TableHeader, EveryDefectHasItsStatus) {
  const std::string cube = Bytes(kCube);
  auto with = [&](size_t offset, const char *hex) {
    return cube.substr(0, offset) + Bytes(hex) + cube.substr(offset + 4);
  };
  const struct {
    std::string table;
    size_t capacity;
    int status;
  } cases[] = {
      {"", 8, KNOTFIT_TABLE_SHORT},
      {cube.substr(0, 3), 8, KNOTFIT_TABLE_SHORT},
      {cube.substr(0, 103), 8, KNOTFIT_TABLE_SHORT},
      {with(0, "7f ff ff ff"), 8, KNOTFIT_TABLE_SHORT}, // 4 + 20 n overflows
      {with(0, "ff ff ff fb"), 8, KNOTFIT_TABLE_BAD_COUNT},
      {with(0, "80 00 00 00"), 8, KNOTFIT_TABLE_BAD_COUNT},
      {Bytes("00 00 00 00"), 8, KNOTFIT_TABLE_BAD_COUNT},
      {cube + '\0', 8, KNOTFIT_TABLE_SIZE_MISMATCH},
      {cube + cube.substr(4, 20), 8, KNOTFIT_TABLE_SIZE_MISMATCH},
      {with(4, "7f 80 00 00"), 8, KNOTFIT_TABLE_NOT_FINITE},      // x of knot 4
      {with(100, "ff c0 00 00"), 8, KNOTFIT_TABLE_NOT_FINITE},    // c of knot 0
      {with(24, "40 80 00 00"), 8, KNOTFIT_TABLE_NOT_INCREASING}, // x3 = x4
      {with(84, "3f c0 00 00"), 8, KNOTFIT_TABLE_NOT_INCREASING}, // x0 > x1
      {cube, 4, KNOTFIT_TABLE_CAPACITY},
      {Bytes(kLine), 2, KNOTFIT_TABLE_OK},
  };
  for (const auto &tc : cases) {
    const Decoded d = Decode(tc.table, tc.capacity);
    EXPECT_EQ(d.status, tc.status) << knotfit_table_message(tc.status);
    EXPECT_EQ(d.n == 0, tc.status != KNOTFIT_TABLE_OK);
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
}

// The double evaluation is getValue on the widened fields, and what the C++
// reader (knotfit::read_table) gives, bit for bit: outside, at, beside and
// between the knots, and for NaN.
TEST(TableHeader, DoubleEvaluationIsGetValueOnWidenedFields) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  for (const char *hex : {kCube, kLine, kOdd}) {
    const Decoded d = Decode(Bytes(hex));
    ASSERT_EQ(d.status, KNOTFIT_TABLE_OK);
    const std::string bytes = Bytes(hex);
    const knotfit::Table table = knotfit::read_table(
        std::vector<unsigned char>(bytes.begin(), bytes.end()));
    using Widened = std::vector<double>;
    const Widened x(d.x.begin(), d.x.begin() + d.n), y(d.y.begin(), d.y.end()),
        a(d.a.begin(), d.a.end()), b(d.b.begin(), d.b.end()),
        c(d.c.begin(), d.c.end());
    std::vector<double> ts = {-kInf, kInf, std::nan("")};
    for (int i = 0; i <= 100; ++i) {
      ts.push_back(x.front() - 1 + (x.back() - x.front() + 2) * i / 100);
    }
    for (const double knot : x) {
      ts.insert(ts.end(), {std::nextafter(knot, -kInf), knot,
                           std::nextafter(knot, kInf)});
    }
    for (const double t : ts) {
      const double want =
          getValue(t, d.n, x.data(), y.data(), a.data(), b.data(), c.data());
      const double from_c = c_table_value(t, d.n, d.x.data(), d.y.data(),
                                          d.a.data(), d.b.data(), d.c.data());
      const double from_cpp = knotfit_table_value(
          t, d.n, d.x.data(), d.y.data(), d.a.data(), d.b.data(), d.c.data());
      EXPECT_EQ(std::bit_cast<uint64_t>(from_c), std::bit_cast<uint64_t>(want))
          << d.n << " knots, at " << t;
      EXPECT_EQ(std::bit_cast<uint64_t>(from_cpp),
                std::bit_cast<uint64_t>(want));
      EXPECT_EQ(std::bit_cast<uint64_t>(table.value(t)),
                std::bit_cast<uint64_t>(want));
    }
  }
}

} // namespace
