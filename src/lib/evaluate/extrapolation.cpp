#include "extrapolation.h"

#include "../text/names.h"

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
  return ParseName(kRules, &Rule::rule, text, out);
}

std::string ExtrapolationList() {
  return NameList(kRules, [](const Rule &) { return ""; });
}

const char *ExtrapolationName(Extrapolation e) {
  const char *name = NameOf(kRules, &Rule::rule, e);
  return name != nullptr ? name : "unknown";
}

} // namespace knotfit
