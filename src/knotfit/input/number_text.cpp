#include "input/number_text.h"

#include "knotfit_internal.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The word of eight bytes in memory at p, the first byte in the lowest
// eight bits, and the reverse: the digit arithmetic below counts bytes from
// the low end, whatever the machine's byte order.
uint64_t LoadLittle(const char *p) {
  uint64_t word = 0;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) {
    word = __builtin_bswap64(word);
  }
  return word;
}

void StoreLittle(char *p, uint64_t word) {
  if constexpr (std::endian::native == std::endian::big) {
    word = __builtin_bswap64(word);
  }
  std::memcpy(p, &word, 8);
}

// 10^0 .. 10^8.
constexpr uint64_t kPow10Int[9] = {1,      10,      100,      1000,     10000,
                                   100000, 1000000, 10000000, 100000000};

// Up to eight bytes from p on, as one little-endian word: the first byte in
// the lowest. Bytes at or beyond end read as zero, which is no digit. The
// word is loaded whole where eight bytes lie within the token: from p, or
// ending at end and shifted down past the bytes before p.
uint64_t EightBytes(const char *p, const char *begin, const char *end) {
  uint64_t word = 0;
  const auto left = end - p;
  if (left >= 8) {
    word = LoadLittle(p);
  } else if (left > 0 && end - begin >= 8) {
    word = LoadLittle(end - 8) >> 8 * (8 - left);
  } else {
    for (auto k = left; k-- > 0;) {
      word = word << 8 | static_cast<unsigned char>(p[k]);
    }
  }
  return word;
}

// A word of eight bytes with b in each.
constexpr uint64_t EachByte(uint8_t b) {
  return 0x0101010101010101u * b;
}

// The value of the digits in the top bytes of v (values 0..9, the lowest of
// them the most significant digit), zeros below them: pairs, then quads,
// then the eight-digit value, each step one multiplication.
uint64_t DigitsValue(uint64_t v) {
  v = v * 10 + (v >> 8);
  return ((v & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
          ((v >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >>
         32;
}

// Appends the digits from p on to m (m * 10 + digit for each; m may wrap
// for very long runs, which the caller then does not use) and returns the
// first character that is not a digit, or end. Eight bytes at a time:
// subtracting '0' from each must leave 0..9 in a digit's byte; the lowest
// byte that fails ends the run (bytes below it are digits and lend no borrow
// to it, so its test is exact even though the bytes above may not be).
const char *ReadDigits(const char *p, const char *begin, const char *end,
                       uint64_t &m) {
  for (;;) {
    const uint64_t d = EightBytes(p, begin, end) - EachByte('0');
    const uint64_t not_digit = (d | (d + EachByte(6))) & EachByte(0xF0);
    const int count = not_digit == 0 ? 8 : std::countr_zero(not_digit) / 8;
    if (count == 0) {
      return p;
    }
    // The digits moved to the top bytes, zeros (leading zeros of the
    // number) below.
    m = m * kPow10Int[count] + DigitsValue(d << (8 * (8 - count)));
    p += count;
    if (count < 8) {
      return p;
    }
  }
}

// The top bit of each byte of x that is not a digit, where x holds text
// XORed with '0' in every byte, so that a digit's byte is 0..9. Each byte
// is cut to seven bits before the addition so that none carries into the
// next; the byte's own top bit is put back by the or.
uint64_t NotDigits(uint64_t x) {
  return (((x & EachByte(0x7F)) + EachByte(0x76)) | x) & EachByte(0x80);
}

// 10^0 .. 10^15, all exact doubles.
constexpr double kPow10[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// The form numbers are most often written in, digits.digits of 8 to 16
// characters (after any sign) with 1 to 8 decimals, read without a loop:
// one load from the start holds the integer digits and the point, one that
// ends at the end holds the decimals. The digits number at most 15, so
// m = integer * 10^d + decimals is below 10^15 and value = m / 10^d is a
// quotient of two exact doubles: its one rounding is the correctly rounded
// value strtod returns. False (value untouched) for any other text.
bool ParseCommonForm(const char *s, size_t length, double &value) {
  if (length < 8 || length > 16) {
    return false;
  }
  const uint64_t head = LoadLittle(s) ^ EachByte('0');
  const uint64_t head_not_digits = NotDigits(head);
  const int point =
      head_not_digits == 0 ? 8 : std::countr_zero(head_not_digits) / 8;
  const int decimals = static_cast<int>(length) - point - 1;
  if (point == 0 || decimals < 1 || decimals > 8 || s[point] != '.') {
    return false;
  }
  const int below = 64 - 8 * decimals; // the tail's bits before its decimals
  const uint64_t tail = LoadLittle(s + length - 8) ^ EachByte('0');
  if (NotDigits(tail) >> below != 0) {
    return false;
  }
  const uint64_t m =
      DigitsValue(head << (8 * (8 - point))) * kPow10Int[decimals] +
      DigitsValue(tail >> below << below);
  value = static_cast<double>(m) / kPow10[decimals];
  return true;
}

// The eight decimal digits of n < 10^8 as values 0..9, the most significant
// in the lowest byte. The halves n / 10^4 and n % 10^4 sit in the two 32-bit
// lanes of one word, and each step divides every lane at once by a
// multiplication and a shift (exact for these ranges: v * 10486 >> 20 is
// v / 100 for v < 10^4, v * 103 >> 10 is v / 10 for v < 100), leaving the
// quotient in place and the remainder in the upper half of the lane.
uint64_t EightDigits(uint32_t n) {
  uint64_t x = n / 10000 | uint64_t{n % 10000} << 32;
  uint64_t y = (x * 10486 >> 20) & 0x0000007F0000007Fu;
  x = y | (x - y * 100) << 16;
  y = (x * 103 >> 10) & 0x000F000F000F000Fu;
  return y | (x - y * 10) << 8;
}

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
// at most 7 as q < 2^43) two digits at a time from the right, the point,
// and the six digits of q % 10^6 stored as one word of eight bytes (its two
// leading zeros dropped; the two bytes after the text are scratch). out
// must hold 17 bytes.
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
  const uint64_t m = EightDigits(micros);
  StoreLittle(out, (m >> 16) + 0x0000303030303030u);
  return out + 6;
}

} // namespace

double ParseAtof(std::string_view token, bool *whole) {
  // Fast paths: the most common form at once, then any [-]digits[.digits]
  // with at most 15 digits: the digits make an integer m < 10^15 and the
  // value is m / 10^decimals, a quotient of two exact doubles, so the one
  // rounding of the division is the correctly rounded value strtod returns.
  const char *p = token.data();
  const char *const end = p + token.size();
  const bool negative = p < end && *p == '-';
  p += negative ? 1 : 0;
  if (double value = 0.0;
      ParseCommonForm(p, static_cast<size_t>(end - p), value)) {
    if (whole != nullptr) {
      *whole = true;
    }
    return negative ? -value : value;
  }
  const char *const digits_start = p;
  uint64_t m = 0;
  p = ReadDigits(p, token.data(), end, m);
  const long whole_digits = p - digits_start;
  long decimals = 0;
  if (p < end && *p == '.') {
    const char *const decimals_start = ++p;
    p = ReadDigits(p, token.data(), end, m);
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
    if (((lead >= '0' && lead <= '9') || lead == '.') && !hex) {
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
  // binary value decides, as it does for printf. Adding and subtracting
  // 2^52 rounds mag to an integer, ties to even, without a branch: the sum
  // has no bits below 1.
  const double mag = std::fabs(v * 1e6);
  if (mag < 0x1p43) {
    const double rounded = (mag + 0x1p52) - 0x1p52;
    const double off = mag - rounded; // exact, within [-0.5, 0.5]
    const bool exact = static_cast<double>(static_cast<float>(v)) == v;
    if (exact || std::fabs(off) < 0.5 - 0x1p-8) {
      *out = '-';
      out += std::signbit(v) ? 1 : 0;
      return WriteMicros(out, static_cast<uint64_t>(rounded));
    }
  }
  if (!std::isfinite(v)) {
    const std::string_view text = knotfit::detail::NonFiniteText(v);
    return std::copy(text.begin(), text.end(), out);
  }
  return std::to_chars(out, out + kFixed6Max, v, std::chars_format::fixed, 6)
      .ptr;
}
