// The rules between the parts of a request, read from the methods' rows.
#include "knotfit/request.hpp"

#include "methods.h"

#include <algorithm>

namespace knotfit {
namespace {

// What a method's row says of a part of a request.
struct PartInfo {
  const char *option;  // the program's option
  const char *keyword; // the module's keyword
  bool MethodInfo::*accepted;
};

std::string Named(const char *option, const char *keyword, Naming naming) {
  return naming == Naming::kOption ? "option '" + std::string(option) + "'"
                                   : std::string(keyword);
}

std::string MethodNamed(Method method, Naming naming) {
  const std::string name = MethodName(method);
  return naming == Naming::kOption ? "-m " + name : "method='" + name + "'";
}

constexpr PartInfo kParts[] = {
    {"-m clamped=D0,DN", "end_slopes", &MethodInfo::end_slopes},
    {"--lambda", "lam", &MethodInfo::smoothing},
    {"--weights", "w", &MethodInfo::weights},
};

const PartInfo &PartOf(Parameter parameter) {
  return kParts[static_cast<int>(parameter)];
}

// The first method that accepts the part.
Method AcceptingMethod(const PartInfo &part) {
  const auto rows = AllMethods();
  const auto row =
      std::find_if(rows.begin(), rows.end(), [&part](const MethodInfo &info) {
        return info.*part.accepted;
      });
  return row != rows.end() ? row->method : Method::kNotAKnot;
}

} // namespace

std::string RequestProblem(const Request &request,
                           const std::vector<Parameter> &given, Naming naming) {
  const MethodInfo &info = InfoOf(request.method.method);
  if (request.tolerance && info.tolerance == nullptr) {
    // A bound of R alone was given as the relative one.
    const bool relative = request.tolerance->value == 0.0;
    return Named(relative ? "--relative-tolerance" : "--tolerance",
                 relative ? "rtol" : "tolerance", naming) +
           " takes the methods " + ToleranceMethods() + ", not " + info.name;
  }
  for (auto part = given.rbegin(); part != given.rend(); ++part) {
    const PartInfo &about = PartOf(*part);
    if (!(info.*about.accepted)) {
      return Named(about.option, about.keyword, naming) + " needs " +
             MethodNamed(AcceptingMethod(about), naming);
    }
  }
  if (info.merges_equal_x && request.measured.ties != Ties::kKeep) {
    return Named("--ties", "ties", naming) + " does not go with " +
           MethodNamed(request.method.method, naming) +
           ", which merges equal x itself";
  }
  return {};
}

} // namespace knotfit
