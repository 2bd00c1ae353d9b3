// The input side without processes: token splitting across block edges, and
// numbers read and printed exactly as the C library does.
#include "file.h"
#include "number_text.h"
#include "token_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

uint64_t Bits(double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

// All pairs of text, read through blocks of the given size; an unpaired
// last token comes back as a pair with "<lone>".
std::vector<std::string> Split(const std::string &text, size_t block) {
  File f(fmemopen(const_cast<char *>(text.data()), text.size(), "r"));
  TokenReader reader(f.get(), block);
  std::vector<std::string> tokens;
  std::string_view first, second;
  for (;;) {
    const TokenReader::Pair pair = reader.NextPair(first, second);
    if (pair == TokenReader::Pair::kEnd) {
      break;
    }
    tokens.emplace_back(first);
    tokens.emplace_back(pair == TokenReader::Pair::kPair ? second : "<lone>");
    if (pair == TokenReader::Pair::kLoneToken) {
      break;
    }
  }
  return tokens;
}

TEST(TokenReader, TokensAcrossEveryBlockEdge) {
  const struct {
    std::string text;
    std::vector<std::string> tokens;
  } cases[] = {{"", {}},
               {" \t\r\n\v\f", {}},
               {"1 2", {"1", "2"}},
               {"  1\t\t2\r\n3\n\n4  ", {"1", "2", "3", "4"}},
               {"abc", {"abc", "<lone>"}},
               {"NAME my file 10", {"NAME", "my", "file", "10"}},
               {"longer-token x y", {"longer-token", "x", "y", "<lone>"}},
               {std::string("a\0b c", 5), {"a", "c"}}, // a token ends at NUL
               {std::string(3000, 'z') + " " + std::string(2000, 'y'),
                {std::string(3000, 'z'), std::string(2000, 'y')}}};
  for (const auto &tc : cases) {
    for (const size_t block : {1u, 2u, 3u, 5u, 7u, 64u, 4096u}) {
      EXPECT_EQ(Split(tc.text, block), tc.tokens)
          << "block " << block << " text " << tc.text.substr(0, 40);
    }
  }
}

TEST(ParseAtof, MatchesTheCLibrary) {
  std::vector<std::string> tokens = {"0",
                                     "-0",
                                     "+2",
                                     ".5",
                                     "-.5",
                                     "5.",
                                     "1e-400",
                                     "-1e-400",
                                     "1e999",
                                     "-1e999",
                                     "1.5abc",
                                     "1e",
                                     "1e+",
                                     "1e+5x",
                                     "0x1p3",
                                     "-0X1.8p1",
                                     "0x",
                                     "0xg",
                                     "00x1",
                                     "inf",
                                     "-Infinity",
                                     "nan",
                                     "-nan",
                                     "nan(123)",
                                     "NAME",
                                     "Name",
                                     "abc",
                                     "-",
                                     "+",
                                     ".",
                                     "-.",
                                     "+-1",
                                     "--1",
                                     "4.9e-324",
                                     "2.4703282292062327e-324",
                                     "2.4703282292062328e-324",
                                     "1.7976931348623157e308",
                                     "1.7976931348623158e308",
                                     "1.7976931348623159e308",
                                     "0.1",
                                     "123456789012345678901234567890",
                                     "9007199254740993",
                                     "1." + std::string(400, '0') + "1",
                                     "0." + std::string(400, '0') + "1e400",
                                     "2.5\t",
                                     "1,5",
                                     "1_000"};
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 200000; ++i) {
    double v = 0;
    const uint64_t bits = rng();
    std::memcpy(&v, &bits, sizeof v);
    char text[64];
    switch (i % 4) {
    case 0:
      std::snprintf(text, sizeof text, "%.17g", v);
      break;
    case 1:
      std::snprintf(text, sizeof text, "%.6f", std::fmod(v, 1e6));
      break;
    case 2:
      std::snprintf(text, sizeof text, "%.*e", static_cast<int>(rng() % 25), v);
      break;
    default:
      std::snprintf(text, sizeof text, "%a", v);
      break;
    }
    tokens.emplace_back(text);
  }
  for (const std::string &token : tokens) {
    const double expected = std::atof(token.c_str());
    const double got = ParseAtof(token);
    EXPECT_TRUE(Bits(expected) == Bits(got) ||
                (std::isnan(expected) && std::isnan(got) &&
                 std::signbit(expected) == std::signbit(got)))
        << token;
  }
}

TEST(FormatFixed6, MatchesPrintf) {
  std::vector<double> values = {0.0,
                                -0.0,
                                0.5,
                                -0.5,
                                0.0078125,
                                -0.0078125,
                                0.0000005,
                                0.0000015,
                                0.0000025,
                                1e-7,
                                -1e-7,
                                1.0000005,
                                2.5e-6,
                                123456.0000005,
                                4503599627370496.5,
                                1e15,
                                1e16,
                                1e22,
                                1e300,
                                -1e300,
                                1.7976931348623157e308,
                                4.9e-324,
                                kInf,
                                -kInf,
                                kNaN,
                                -kNaN,
                                0.1,
                                1.0 / 3,
                                2.0 / 3,
                                8796093022208.0,
                                8796093.0220085,
                                8796093.0220075};
  std::mt19937_64 rng(777);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int i = 0; i < 300000; ++i) {
    const double scale = std::pow(10.0, static_cast<int>(rng() % 30) - 12);
    double v = unit(rng) * scale;
    if (i % 3 == 0) {
      v = static_cast<float>(v); // the trace prints narrowed values
    } else if (i % 3 == 1) {
      // Exact multiples of 2^-7 .. 2^-20: many decimal ties.
      v = std::ldexp(std::round(v * 1e3), -static_cast<int>(7 + rng() % 14));
    }
    values.push_back(v);
  }
  for (double v : values) {
    char expected[400];
    std::snprintf(expected, sizeof expected, "%f", v);
    char got[kFixed6Max];
    const std::string text(got, FormatFixed6(got, v));
    EXPECT_EQ(text, expected) << std::hexfloat << v;
  }
}

} // namespace
