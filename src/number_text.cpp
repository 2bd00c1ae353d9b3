#include "number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

double ParseAtof(std::string_view token) {
  // Plain decimal tokens take the fast path: from_chars rounds correctly, as
  // strtod does, and takes the same longest prefix. It knows no leading '+',
  // no hexadecimal and no "-nan" sign rule, and it reports overflow and
  // underflow instead of saturating, so those go to strtod itself.
  size_t i = token.size() > 0 && token[0] == '-' ? 1 : 0;
  if (i < token.size()) {
    const char lead = token[i];
    const bool hex = lead == '0' && i + 1 < token.size() &&
                     (token[i + 1] == 'x' || token[i + 1] == 'X');
    if (((lead >= '0' && lead <= '9') || lead == '.') && !hex) {
      double value = 0.0;
      const auto [end, ec] =
          std::from_chars(token.data(), token.data() + token.size(), value);
      if (ec == std::errc()) {
        return value;
      }
    }
  }
  const std::string text(token); // strtod needs the terminating NUL
  return std::strtod(text.c_str(), nullptr);
}

namespace {

// Writes the digits of q (q < 10^16) with the decimal point six places from
// the right, at least one integer digit.
char *WriteScaled(char *out, uint64_t q) {
  char digits[24];
  int len = 0;
  do {
    digits[len++] = static_cast<char>('0' + q % 10);
    q /= 10;
  } while (q != 0 || len < 7);
  for (int k = len - 1; k >= 6; --k) {
    *out++ = digits[k];
  }
  *out++ = '.';
  for (int k = 5; k >= 0; --k) {
    *out++ = digits[k];
  }
  return out;
}

} // namespace

char *FormatFixed6(char *out, double v) {
  // Fast path: p = v * 1e6 carries an error of at most half an ulp, which for
  // |p| < 2^43 is below 2^-10. Unless p lies within 2^-8 of a half-integer,
  // the exact product rounds to the same integer as p, so the digits are
  // those of nearbyint(p). Near ties (and large values) the exact decimal
  // expansion decides, as printf does.
  const double p = v * 1e6;
  const double mag = std::fabs(p);
  if (mag < 0x1p43) {
    const double frac = mag - std::floor(mag);
    if (std::fabs(frac - 0.5) > 0x1p-8) {
      if (std::signbit(v)) {
        *out++ = '-';
      }
      return WriteScaled(out, static_cast<uint64_t>(std::nearbyint(mag)));
    }
  }
  return std::to_chars(out, out + kFixed6Max, v, std::chars_format::fixed, 6)
      .ptr;
}
