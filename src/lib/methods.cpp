// Placeholder until the interpolation methods land: only not-a-knot.
#include "knotfit/method.hpp"

namespace knotfit {

bool ParseMethod(std::string_view text, MethodChoice &out) {
  if (text != "not-a-knot") {
    return false;
  }
  out = MethodChoice{};
  return true;
}

const char *MethodName(Method) {
  return "not-a-knot";
}

} // namespace knotfit
