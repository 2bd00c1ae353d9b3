// What a spline or table gives outside its knots, [x[0], x[n-1]].
#ifndef KNOTFIT_EXTRAPOLATION_HPP
#define KNOTFIT_EXTRAPOLATION_HPP

#include <string_view>

namespace knotfit {

enum class Extrapolation {
  kClamp,  // the ordinate of the nearer end knot: S' = S'' = 0 (the default,
           // as in the program's plot files)
  kLinear, // the end knot's ordinate and slope a: S'' = 0
  kCubic,  // the polynomial of the segment at that end, continued
  kNan,    // NaN for S, S', S'' and any integral reaching beyond the knots
};

// Reads a rule as the command line names it: "clamp", "linear", "cubic",
// "nan". False for anything else (out is then unchanged).
bool ParseExtrapolation(std::string_view text, Extrapolation &out);

// The rule's name as ParseExtrapolation reads it.
const char *ExtrapolationName(Extrapolation e);

} // namespace knotfit

#endif
