// The input side without processes: token splitting across block edges, and
// numbers read and printed exactly as the C library does.
#include "input/number_text.h"
#include "input/token_reader.h"
#include "output/file.h"

#include "fixed_point.h"
#include "knotfit/spline.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// A stream of text whose reads then fail with EIO, as a disk's would.
ssize_t ReadThenFail(void *cookie, char *to, size_t size) {
  auto &left = *static_cast<std::string_view *>(cookie);
  const size_t n = left.copy(to, size);
  left.remove_prefix(n);
  errno = EIO;
  return n > 0 ? static_cast<ssize_t>(n) : -1;
}

// All pairs of text, read whole through blocks of the given size; an
// unpaired last token comes back as a pair with "<lone>". The tokens as C
// strings must end at the first NUL of the whole ones. With fails, the reads
// after the text fail, and the reader must say so.
std::vector<std::string> Split(const std::string &text, size_t block,
                               bool fails = false) {
  std::string_view left = text;
  File f(
      fails ? fopencookie(&left, "r", {ReadThenFail, nullptr, nullptr, nullptr})
            : fmemopen(const_cast<char *>(text.data()), text.size(), "r"));
  TokenReader reader(f.get(), block);
  std::vector<std::string> tokens;
  std::string_view first, second;
  TokenReader::Pair pair;
  while ((pair = reader.NextPair(first, second)) != TokenReader::Pair::kEnd) {
    const bool paired = pair == TokenReader::Pair::kPair;
    const std::string_view cut[] = {first, paired ? second : ""};
    const std::string_view whole[] = {
        reader.held_nul() ? reader.first_whole() : cut[0],
        reader.held_nul() ? reader.second_whole() : cut[1]};
    for (size_t k = 0; k < 2; ++k) {
      EXPECT_EQ(cut[k], whole[k].substr(0, whole[k].find('\0')));
    }
    EXPECT_EQ(reader.held_nul(), cut[0] != whole[0] || cut[1] != whole[1]);
    tokens.emplace_back(whole[0]);
    tokens.emplace_back(paired ? whole[1] : "<lone>");
  }
  EXPECT_EQ(reader.error(), fails ? EIO : 0);
  return tokens;
}

// Every line of a file in tests/data/numbers.
std::vector<std::string> DataLines(const std::string &name) {
  std::ifstream in(std::string(KNOTFIT_DATA "/numbers/") + name);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(TokenReader, TokensAcrossEveryBlockEdge) {
  // The last rows fail after their text: that ends the pairs and cuts no
  // token short ("cube" may go on), nor leaves "3" an unpaired last token.
  const struct {
    std::string text;
    std::vector<std::string> tokens;
    bool fails = false;
  } cases[] = {{"", {}},
               {" \t\r\n\v\f", {}},
               {"  1\t\t2\r\n3\n\n4  ", {"1", "2", "3", "4"}},
               {"NAME my file 10", {"NAME", "my", "file", "10"}},
               {"longer-token x y", {"longer-token", "x", "y", "<lone>"}},
               {std::string("a\0b c", 5), {std::string("a\0b", 3), "c"}},
               {std::string("1 22\0b\0", 7), {"1", std::string("22\0b\0", 5)}},
               {"\xef\xbb\xbf"
                "1 2",
                {"1", "2"}}, // a byte-order mark
               {"\xef\xbb\xbf", {}},
               {"\xef\xbb 1", {"\xef\xbb", "1"}},
               {"1 \xef\xbb\xbf"
                "2",
                {"1", "\xef\xbb\xbf"
                      "2"}},
               {std::string(3000, 'z') + " " + std::string(2000, 'y'),
                {std::string(3000, 'z'), std::string(2000, 'y')}},
               {"1 2\nNAME cube", {"1", "2"}, true},
               {"1 2 3 ", {"1", "2"}, true}};
  for (const auto &tc : cases) {
    for (const size_t block : {1u, 2u, 3u, 5u, 7u, 64u, 4096u}) {
      EXPECT_EQ(Split(tc.text, block, tc.fails), tc.tokens)
          << "block " << block << " text " << tc.text.substr(0, 40);
    }
  }
}

// Lines count '\n' alone, across every block edge.
TEST(TokenReader, LineOfEachToken) {
  const std::string text = "1 2\n\n3\r\n4 x\n\n\n  NAME\tn\n\nlast";
  for (const size_t block : {1u, 2u, 5u, 4096u}) {
    File f(fmemopen(const_cast<char *>(text.data()), text.size(), "r"));
    TokenReader reader(f.get(), block);
    std::string_view first, second;
    std::vector<uint64_t> lines;
    TokenReader::Pair pair;
    while ((pair = reader.NextPair(first, second)) != TokenReader::Pair::kEnd) {
      lines.push_back(reader.first_line());
      if (pair == TokenReader::Pair::kPair) {
        lines.push_back(reader.second_line());
      }
    }
    EXPECT_EQ(lines, (std::vector<uint64_t>{1, 1, 3, 4, 4, 7, 7, 9}))
        << "block " << block;
  }
}

// Hand-picked edge cases, random doubles in every printf form, and random
// texts of digits and points around the lengths read at once.
TEST(ParseAtof, MatchesTheCLibrary) {
  std::vector<std::string> tokens = DataLines("atof_tokens.txt");
  ASSERT_GT(tokens.size(), 40u);
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 200000; ++i) {
    double v = 0;
    const uint64_t bits = rng();
    std::memcpy(&v, &bits, sizeof v);
    char text[64];
    switch (i % 5) {
    case 0:
      std::snprintf(text, sizeof text, "%.17g", v);
      break;
    case 1:
      std::snprintf(text, sizeof text, "%.6f", std::fmod(v, 1e6));
      break;
    case 2:
      std::snprintf(text, sizeof text, "%.*e", static_cast<int>(rng() % 25), v);
      break;
    case 3: { // mostly digits, a point or two, now and then a stray byte
      const size_t length = 6 + rng() % 13;
      for (size_t k = 0; k < length; ++k) {
        const uint64_t pick = rng() % 40;
        text[k] = pick < 32   ? static_cast<char>('0' + pick % 10)
                  : pick < 37 ? '.'
                              : "-eE:/ x\x80"[rng() % 8];
      }
      text[length] = '\0';
      break;
    }
    default:
      std::snprintf(text, sizeof text, "%a", v);
      break;
    }
    tokens.emplace_back(text);
  }
  for (const std::string &token : tokens) {
    char *end = nullptr; // atof is strtod, whose end says what was used
    const double expected = std::strtod(token.c_str(), &end);
    bool whole = false;
    const double got = ParseAtof(token, &whole);
    EXPECT_TRUE(std::memcmp(&expected, &got, sizeof got) == 0 ||
                (std::isnan(expected) && std::isnan(got) &&
                 std::signbit(expected) == std::signbit(got)))
        << token;
    EXPECT_EQ(whole, end != token.c_str() && *end == '\0') << token;
  }
}

// Hand-picked values (ties, every length of the integer part, inf and nan),
// then random ones: narrowed to binary32 as the trace prints them, exact
// multiples of 2^-7 .. 2^-20 (many decimal ties), and plain doubles.
TEST(FormatFixed6, MatchesPrintf) {
  std::vector<double> values;
  for (const std::string &text : DataLines("fixed6_values.txt")) {
    values.push_back(std::strtod(text.c_str(), nullptr));
  }
  ASSERT_GT(values.size(), 40u);
  std::mt19937_64 rng(777);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int i = 0; i < 300000; ++i) {
    const double scale = std::pow(10.0, static_cast<int>(rng() % 30) - 12);
    double v = unit(rng) * scale;
    if (i % 3 == 0) {
      v = static_cast<float>(v);
    } else if (i % 3 == 1) {
      v = std::ldexp(std::round(v * 1e3), -static_cast<int>(7 + rng() % 14));
    }
    values.push_back(v);
  }
  for (double v : values) {
    char expected[400];
    std::snprintf(expected, sizeof expected, "%f", v);
    char got[kFixed6Max];
    EXPECT_EQ(std::string(got, FormatFixed6(got, v)), expected)
        << std::hexfloat << v;
  }
}

} // namespace

// knotfit-export's fixed point: at and beyond either end knot S is that
// knot's y, exactly as stored, not the end segment's polynomial rounded in
// fixed point.
TEST(FixedPoint, EndsAreTheEndKnotsY) {
  std::vector<double> x, y;
  for (int i = 0; i < 9; ++i) {
    x.push_back(0.37 * i * i + i);
    y.push_back(std::sin(x.back()) * 3.1);
  }
  const knotfit::Spline s = knotfit::fit(x, y);
  const Columns columns = {s.x(), s.y(), s.a(), s.b(), s.c()};
  for (const int bits : {16, 32}) {
    SCOPED_TRACE(bits);
    const FixedTable f = Quantize(columns, false, bits);
    const std::vector<int64_t> &xs = f.q[0], &ys = f.q[1];
    const int to_value = f.frac[1] - f.value_frac();
    for (const int64_t t : {xs.front(), xs.front() - 3})
      EXPECT_EQ(Evaluate(f, t), Shift(ys.front(), to_value));
    for (const int64_t t : {xs.back(), xs.back() + 3})
      EXPECT_EQ(Evaluate(f, t), Shift(ys.back(), to_value));
  }
}
