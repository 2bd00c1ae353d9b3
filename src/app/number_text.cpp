#include "number_text.h"

#include "knotfit_internal.h"

#include <algorithm>
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

// The value of the four digits at p, or -1 unless all four are digits. The
// four bytes are handled as one 32-bit word: subtracting '0' from each must
// leave 0..9 in every byte, which is checked for all four at once.
int FourDigits(const char *p) {
  uint32_t word = 0;
  for (int k = 3; k >= 0; --k) {
    word = word << 8 | static_cast<unsigned char>(p[k]);
  }
  const uint32_t d = word - 0x30303030u;
  if (((d | (d + 0x06060606u)) & 0xF0F0F0F0u) != 0) {
    return -1;
  }
  const uint32_t pairs = d * 10 + (d >> 8); // bytes 0, 2: 10*d0+d1, 10*d2+d3
  return static_cast<int>((pairs & 0xFF) * 100 + ((pairs >> 16) & 0xFF));
}

// Appends the digits from p on to m (m * 10 + digit for each; m may wrap
// for very long runs, which the caller then does not use) and returns the
// first character that is not a digit, or end.
const char *ReadDigits(const char *p, const char *end, uint64_t &m) {
  for (int four = 0; end - p >= 4 && (four = FourDigits(p)) >= 0; p += 4) {
    m = m * 10000 + static_cast<uint64_t>(four);
  }
  for (; p < end && IsDigit(*p); ++p) {
    m = m * 10 + static_cast<uint64_t>(*p - '0');
  }
  return p;
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
  std::memcpy(out, kTwoDigits + size_t{2} * value, 2);
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

double ParseAtof(std::string_view token, bool *whole) {
  // Fast path for the common form [-]digits[.digits] with at most 15
  // digits: the digits make an integer m < 10^15 and the value is
  // m / 10^decimals, a quotient of two exact doubles, so the one rounding of
  // the division is the correctly rounded value strtod returns.
  const char *p = token.data();
  const char *const end = p + token.size();
  const bool negative = p < end && *p == '-';
  p += negative ? 1 : 0;
  const char *const digits_start = p;
  uint64_t m = 0;
  p = ReadDigits(p, end, m);
  const long whole_digits = p - digits_start;
  long decimals = 0;
  if (p < end && *p == '.') {
    const char *const decimals_start = ++p;
    p = ReadDigits(p, end, m);
    decimals = p - decimals_start;
  }
  const long digits = whole_digits + decimals;
  // An exponent, or the x of a hexadecimal number, would go on.
  const bool complete =
      p == end || (*p != 'e' && *p != 'E' && *p != 'x' && *p != 'X');
  if (digits > 0 && digits <= 15 && complete) {
    if (whole != nullptr) {
      *whole = p == end;
    }
    const double value = static_cast<double>(m) / kPow10[decimals];
    return negative ? -value : value;
  }

  // Other decimal forms: from_chars rounds correctly, as strtod does, and
  // takes the same longest prefix. It knows no leading '+', no hexadecimal
  // and no "-nan", and it reports overflow and underflow instead of
  // saturating, so those go to strtod itself; so does everything where the
  // standard library has no from_chars for double.
#if defined(KNOTFIT_HAVE_FROM_CHARS_DOUBLE)
  if (digits_start < end) {
    const char lead = *digits_start;
    const bool hex = lead == '0' && digits_start + 1 < end &&
                     (digits_start[1] == 'x' || digits_start[1] == 'X');
    if ((IsDigit(lead) || lead == '.') && !hex) {
      double value = 0.0;
      const auto [stop, ec] = std::from_chars(token.data(), end, value);
      if (ec == std::errc()) {
        if (whole != nullptr) {
          *whole = stop == end;
        }
        return value;
      }
    }
  }
#endif
  const std::string text(token); // strtod needs the terminating NUL
  char *stop = nullptr;
  const double value = knotfit::detail::StrtodC(text.c_str(), &stop);
  if (whole != nullptr) {
    *whole = !text.empty() && stop == text.c_str() + text.size();
  }
  return value;
}

char *FormatFixed6(char *out, double v) {
  // Fast path. mag = |v * 1e6| is exact when v is a binary32 value (24
  // significant bits times 10^6 fit in 53): then a tie is a tie, and it goes
  // to the even neighbour as printf rounds it. Otherwise mag carries an
  // error of at most half an ulp, below 2^-10 for mag < 2^43; unless mag
  // lies within 2^-8 of a half-integer, the exact product rounds to the same
  // integer. Near such a tie (and for large values, inf and nan) the exact
  // binary value decides, as it does for printf.
  const double mag = std::fabs(v * 1e6);
  if (mag < 0x1p43) {
    const auto whole = static_cast<uint64_t>(mag);
    const double frac = mag - static_cast<double>(whole); // exact
    const bool exact = static_cast<double>(static_cast<float>(v)) == v;
    if (exact || std::fabs(frac - 0.5) > 0x1p-8) {
      if (std::signbit(v)) {
        *out++ = '-';
      }
      const bool up = frac > 0.5 || (frac == 0.5 && (whole & 1) != 0);
      return WriteMicros(out, whole + (up ? 1 : 0));
    }
  }
  if (!std::isfinite(v)) {
    const std::string_view text = knotfit::detail::NonFiniteText(v);
    return std::copy(text.begin(), text.end(), out);
  }
  return std::to_chars(out, out + kFixed6Max, v, std::chars_format::fixed, 6)
      .ptr;
}
