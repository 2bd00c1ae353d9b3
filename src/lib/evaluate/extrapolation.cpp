#include "knotfit/extrapolation.hpp"

namespace knotfit {

namespace {

struct Rule {
  Extrapolation rule;
  const char *name;
};

constexpr Rule kRules[] = {{Extrapolation::kClamp, "clamp"},
                           {Extrapolation::kLinear, "linear"},
                           {Extrapolation::kCubic, "cubic"},
                           {Extrapolation::kNan, "nan"}};

} // namespace

bool ParseExtrapolation(std::string_view text, Extrapolation &out) {
  for (const Rule &r : kRules) {
    if (text == r.name) {
      out = r.rule;
      return true;
    }
  }
  return false;
}

const char *ExtrapolationName(Extrapolation e) {
  for (const Rule &r : kRules) {
    if (r.rule == e) {
      return r.name;
    }
  }
  return "unknown";
}

} // namespace knotfit
