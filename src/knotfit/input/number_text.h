// Numbers to and from text, exactly as the C library does it, without stdio.
#ifndef KNOTFIT_INPUT_NUMBER_TEXT_H
#define KNOTFIT_INPUT_NUMBER_TEXT_H

#include <string_view>

// The value atof() gives for the token: its longest numeric prefix (decimal,
// hexadecimal, inf or nan forms, an optional sign), 0 when there is none;
// overflow gives +-inf, underflow a subnormal or 0. With whole, also says
// whether that prefix is the whole token (strtod consumes all of it).
double ParseAtof(std::string_view token, bool *whole = nullptr);

// The longest text FormatFixed6 writes: sign, 309 integer digits, the point
// and six decimals.
constexpr int kFixed6Max = 320;

// Writes v as printf("%f") does (six decimals, round half to even on the
// exact binary value, "-" for negative values and -0, "inf", "nan") at out
// and returns the end. out must hold kFixed6Max characters.
char *FormatFixed6(char *out, double v);

#endif
