// The interpolants knotfit can fit, and the smoothing spline. Every one is a
// C1 piecewise cubic, so each is held in the same SplineTable form (slope a,
// quadratic b and cubic c per knot) and written in the same table and plot
// formats.
#ifndef KNOTFIT_METHOD_HPP
#define KNOTFIT_METHOD_HPP

#include <string_view>

namespace knotfit {

enum class Method {
  kNotAKnot, // S''' continuous at the second and second-to-last knot
  kNatural,  // S'' = 0 at both ends
  kClamped,  // given end slopes
  kPeriodic, // S, S', S'' match at the ends; needs y[0] == y[n-1]
  kPchip,    // monotone cubic Hermite, Fritsch-Butland slopes
  kAkima,    // Akima 1970
  kMakima,   // modified Akima
  kSteffen,  // Steffen 1990, monotone
  // The cubic smoothing spline: not through the points but near them, its
  // knots the distinct x and their y the smoothed values; by default its
  // smoothing chosen by generalised cross-validation.
  kSmooth,
};

struct MethodChoice {
  Method method = Method::kNotAKnot;
  double start_slope = 0.0; // clamped only: S'(x[0])
  double end_slope = 0.0;   // clamped only: S'(x[n-1])
};

// Reads a method as the command line names it: "not-a-knot", "natural",
// "clamped", "clamped=D0,DN", "periodic", "pchip", "akima", "makima",
// "steffen", "smooth". False for anything else (out is then unchanged).
bool ParseMethod(std::string_view text, MethodChoice &out);

// The method's name as ParseMethod reads it ("not-a-knot", ...).
const char *MethodName(Method method);

} // namespace knotfit

#endif
