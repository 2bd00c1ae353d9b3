#include "short_numbers.h"

#include "../exact_math.h"

#include <charconv>
#include <cmath>

namespace knotfit {
namespace {

// The shortest text that reads back as v, in v's own type.
template <class T> std::string Shortest(T v) {
  if (!std::isfinite(v)) {
    return NonFiniteText(v);
  }
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

} // namespace

std::string ShortNumber(double v) {
  return Shortest(v);
}

std::string ShortBinary32(float v) {
  return Shortest(v);
}

const char *NonFiniteText(double v) {
  if (std::isnan(v)) {
    return std::signbit(v) ? "-nan" : "nan";
  }
  return v < 0 ? "-inf" : "inf";
}

} // namespace knotfit
