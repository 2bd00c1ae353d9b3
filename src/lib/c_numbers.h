// Number text through the C library in the "C" locale, whatever locale the
// calling program has set: for standard libraries without floating-point
// std::from_chars, which therefore do not define __cpp_lib_to_chars either
// (libc++ 14). The C library rounds these conversions correctly, to nearest
// with ties to even, as std::to_chars and std::from_chars do, so the text
// and the values are the same in every build.
#ifndef KNOTFIT_LIB_C_NUMBERS_H
#define KNOTFIT_LIB_C_NUMBERS_H

#include <cstddef>
#include <string>

namespace knotfit {

// printf's words for a value that is not finite: "inf", "-inf", "nan",
// "-nan". Spelled here for every build: libc++'s to_chars writes "-nan(ind)".
const char *NonFiniteText(double v);

// strtod(text, end) in the "C" locale.
double StrtodC(const char *text, char **end);

// printf("%.*f", decimals, v) in the "C" locale into out, which holds size
// bytes (room for the text and a NUL); returns the end of the text.
char *FixedC(char *out, size_t size, double v, int decimals);

// What std::to_chars(first, last, v) writes for a finite v: the fewest
// significant digits that read back as v (of several, the nearest to v), in
// fixed or in scientific notation, whichever is shorter (fixed on a tie);
// an integer in fixed notation gets all its digits.
std::string ShortestC(double v);
std::string ShortestC(float v); // the same for a binary32 value

} // namespace knotfit

#endif
