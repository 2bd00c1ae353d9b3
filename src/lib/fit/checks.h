// What makes a set of points unfit for a spline, in the words the program's
// messages and the library's errors share.
#ifndef KNOTFIT_LIB_CHECKS_H
#define KNOTFIT_LIB_CHECKS_H

#include <cstdint>
#include <string>

namespace knotfit {

// Why no spline can pass through the n points: fewer than 2 of them, a value
// that is not finite, x not strictly increasing. Empty when one can.
std::string PointsProblem(int32_t n, const double *x, const double *y);

} // namespace knotfit

#endif
