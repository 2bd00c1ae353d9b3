#include "c_numbers.h"

#include "exact_math.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace knotfit {
namespace {

// The calling thread in the "C" locale for the object's lifetime (POSIX
// uselocale: per thread, so other threads keep theirs).
class CLocale {
public:
  CLocale() : previous_(uselocale(Get())) {}
  ~CLocale() { uselocale(previous_); }
  CLocale(const CLocale &) = delete;
  CLocale &operator=(const CLocale &) = delete;

private:
  // Made once and never changed. newlocale cannot fail for "C" but on a
  // lack of memory; uselocale((locale_t)0) then changes nothing.
  static locale_t Get() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
    return c;
  }
  locale_t previous_;
};

// d[0].d[1]d[2]... times 10^exponent; digits as characters.
struct Decimal {
  std::string digits;
  int exponent = 0;
};

// |v| correctly rounded to the given number of significant digits.
Decimal Rounded(double magnitude, int digits) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*e", digits - 1, magnitude);
  Decimal d;
  const char *p = text;
  for (; *p != 'e'; ++p) {
    if (*p != '.') {
      d.digits += *p;
    }
  }
  d.exponent = std::atoi(p + 1);
  return d;
}

// The next decimal with as many digits above d (up) or below it: 9.99e0
// goes up to 1.00e1, and 1.00e0 down to 9.99e-1, as below a power of ten the
// decimals of a given length lie ten times closer.
Decimal Step(Decimal d, bool up) {
  std::string ones(d.digits.size(), '0');
  ones[0] = '1';
  const char last = up ? '9' : '0';
  if (!up && d.digits == ones) {
    d.digits.assign(d.digits.size(), '9');
    --d.exponent;
    return d;
  }
  size_t i = d.digits.size();
  while (i > 0 && d.digits[i - 1] == last) {
    d.digits[--i] = up ? '0' : '9';
  }
  if (i == 0) { // all nines, up
    d.digits = ones;
    ++d.exponent;
  } else {
    d.digits[i - 1] = static_cast<char>(d.digits[i - 1] + (up ? 1 : -1));
  }
  return d;
}

std::string Scientific(const Decimal &d) {
  std::string text = d.digits;
  if (text.size() > 1) {
    text.insert(1, 1, '.');
  }
  char exponent[16];
  std::snprintf(exponent, sizeof exponent, "e%c%02d",
                d.exponent < 0 ? '-' : '+', std::abs(d.exponent));
  return text + exponent;
}

std::string Fixed(const Decimal &d, double magnitude) {
  const auto digits = static_cast<int>(d.digits.size());
  if (d.exponent >= digits - 1) {
    // Only an integer's shortest digits can end before the point (below
    // 2^53 an integer that reads back as v is v; above, every double is an
    // integer). Its exact digits take no more characters than the rounded
    // ones padded with zeros, and are nearer: to_chars writes those.
    char text[320];
    std::snprintf(text, sizeof text, "%.0f", magnitude);
    return text;
  }
  if (d.exponent >= 0) {
    const auto point = static_cast<size_t>(d.exponent) + 1;
    return d.digits.substr(0, point) + "." + d.digits.substr(point);
  }
  std::string text(static_cast<size_t>(1 - d.exponent), '0');
  text[1] = '.';
  return text + d.digits;
}

// Whether the decimal reads back as the value, in the value's own type.
bool ReadsBackAs(const Decimal &d, double magnitude) {
  return std::strtod(Scientific(d).c_str(), nullptr) == magnitude;
}
bool ReadsBackAs(const Decimal &d, float magnitude) {
  return std::strtof(Scientific(d).c_str(), nullptr) == magnitude;
}

// The shortest text of v as std::to_chars writes it, for double (17 digits
// always read back) and float (9).
template <class T> std::string Shortest(T v, int most_digits) {
  const CLocale c_locale;
  const T magnitude = std::fabs(v);
  Decimal d;
  // The bound keeps a C library that rounds incorrectly from looping.
  for (int digits = 1; digits <= most_digits; ++digits) {
    d = Rounded(magnitude, digits);
    if (ReadsBackAs(d, magnitude)) {
      break;
    }
    // The nearest decimal of this length misses v; its neighbour on v's
    // other side may not, where the values around v are spaced unevenly
    // (v a power of two: the gap below is half the gap above).
    const bool up = std::strtod(Scientific(d).c_str(), nullptr) < magnitude;
    const Decimal other = Step(d, up);
    if (ReadsBackAs(other, magnitude)) {
      d = other;
      break;
    }
  }
  const std::string fixed = Fixed(d, magnitude);
  const std::string scientific = Scientific(d);
  std::string text = std::signbit(v) ? "-" : "";
  return text += fixed.size() <= scientific.size() ? fixed : scientific;
}

} // namespace

const char *NonFiniteText(double v) {
  if (std::isnan(v)) {
    return std::signbit(v) ? "-nan" : "nan";
  }
  return v < 0 ? "-inf" : "inf";
}

double StrtodC(const char *text, char **end) {
  const CLocale c_locale;
  return std::strtod(text, end);
}

char *FixedC(char *out, size_t size, double v, int decimals) {
  const CLocale c_locale;
  std::snprintf(out, size, "%.*f", decimals, v);
  return out + std::strlen(out);
}

std::string ShortestC(double v) {
  return Shortest(v, 17);
}

std::string ShortestC(float v) {
  return Shortest(v, 9);
}

} // namespace knotfit
