#include "number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsDigit(char ch) {
  return ch >= '0' && ch <= '9';
}

// 10^0 .. 10^15, all exact doubles.
constexpr double kPow10[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// "00" "01" ... "99"
constexpr char kTwoDigits[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536"
    "37383940414243444546474849505152535455565758596061626364656667686970717273"
    "7475767778798081828384858687888990919293949596979899";

char *TwoDigits(char *out, uint32_t value) {
  std::memcpy(out, kTwoDigits + 2 * value, 2);
  return out + 2;
}

// Writes q / 10^6 with six decimals: the integer part (at least one digit,
// at most 7 as q < 2^43), the point, the six digits of q % 10^6.
char *WriteMicros(char *out, uint64_t q) {
  auto whole = static_cast<uint32_t>(q / 1000000);
  const auto micros = static_cast<uint32_t>(q % 1000000);
  const int length = whole < 10        ? 1
                     : whole < 100     ? 2
                     : whole < 1000    ? 3
                     : whole < 10000   ? 4
                     : whole < 100000  ? 5
                     : whole < 1000000 ? 6
                                       : 7;
  char *digit = out + length; // filled from the right
  while (whole >= 100) {
    digit -= 2;
    TwoDigits(digit, whole % 100);
    whole /= 100;
  }
  if (whole >= 10) {
    TwoDigits(digit - 2, whole);
  } else {
    digit[-1] = static_cast<char>('0' + whole);
  }
  out += length;
  *out++ = '.';
  out = TwoDigits(out, micros / 10000);
  out = TwoDigits(out, micros / 100 % 100);
  return TwoDigits(out, micros % 100);
}

} // namespace

double ParseAtof(std::string_view token) {
  // Fast path for the common form [-]digits[.digits] with at most 15
  // digits: the digits make an integer m < 10^15 and the value is
  // m / 10^decimals, a quotient of two exact doubles, so the one rounding of
  // the division is the correctly rounded value strtod returns.
  const size_t size = token.size();
  size_t i = size > 0 && token[0] == '-' ? 1 : 0;
  uint64_t m = 0;
  int digits = 0;
  int decimals = 0;
  for (; i < size && IsDigit(token[i]); ++i, ++digits) {
    m = m * 10 + static_cast<uint64_t>(token[i] - '0');
  }
  if (i < size && token[i] == '.') {
    for (++i; i < size && IsDigit(token[i]); ++i, ++digits, ++decimals) {
      m = m * 10 + static_cast<uint64_t>(token[i] - '0');
    }
  }
  // An exponent, or the x of a hexadecimal number, would go on.
  const bool complete = i == size || (token[i] != 'e' && token[i] != 'E' &&
                                      token[i] != 'x' && token[i] != 'X');
  if (digits > 0 && digits <= 15 && complete) {
    const double value = static_cast<double>(m) / kPow10[decimals];
    return token[0] == '-' ? -value : value;
  }

  // Other decimal forms: from_chars rounds correctly, as strtod does, and
  // takes the same longest prefix. It knows no leading '+', no hexadecimal
  // and no "-nan", and it reports overflow and underflow instead of
  // saturating, so those go to strtod itself.
  i = size > 0 && token[0] == '-' ? 1 : 0;
  if (i < size) {
    const char lead = token[i];
    const bool hex = lead == '0' && i + 1 < size &&
                     (token[i + 1] == 'x' || token[i + 1] == 'X');
    if ((IsDigit(lead) || lead == '.') && !hex) {
      double value = 0.0;
      const auto [end, ec] =
          std::from_chars(token.data(), token.data() + size, value);
      if (ec == std::errc()) {
        return value;
      }
    }
  }
  const std::string text(token); // strtod needs the terminating NUL
  return std::strtod(text.c_str(), nullptr);
}

char *FormatFixed6(char *out, double v) {
  // Fast path: mag = |v * 1e6| carries an error of at most half an ulp,
  // which for mag < 2^43 is below 2^-10. Unless mag lies within 2^-8 of a
  // half-integer, the exact product rounds to the same integer as mag does,
  // and those are the digits. Near a tie (and for large values and inf or
  // nan) the exact binary value decides, as it does for printf.
  const double mag = std::fabs(v * 1e6);
  if (mag < 0x1p43) {
    const auto whole = static_cast<uint64_t>(mag);
    const double frac = mag - static_cast<double>(whole); // exact
    if (std::fabs(frac - 0.5) > 0x1p-8) {
      if (std::signbit(v)) {
        *out++ = '-';
      }
      return WriteMicros(out, whole + (frac > 0.5 ? 1 : 0));
    }
  }
  return std::to_chars(out, out + kFixed6Max, v, std::chars_format::fixed, 6)
      .ptr;
}
