// Numbers in messages: the shortest text that reads back as the value.
#ifndef KNOTFIT_LIB_SHORT_NUMBERS_H
#define KNOTFIT_LIB_SHORT_NUMBERS_H

#include <string>

namespace knotfit {

// The shortest text that reads back as v ("2.5", "1e+15", "inf").
std::string ShortNumber(double v);
// The same for a binary32 value: 0.1f is "0.1".
std::string ShortBinary32(float v);

// printf's words for a value that is not finite: "inf", "-inf", "nan",
// "-nan". Spelled here for every build: libc++'s to_chars writes "-nan(ind)".
const char *NonFiniteText(double v);

} // namespace knotfit

#endif
