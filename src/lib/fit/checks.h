// What makes a set of points unfit for a spline, in the words the program's
// messages and the library's errors share.
#ifndef KNOTFIT_LIB_CHECKS_H
#define KNOTFIT_LIB_CHECKS_H

#include <cstdint>
#include <string>

namespace knotfit {

// The value a problem is about: value ('x', 'y', or a coefficient 'a', 'b',
// 'c') of point `point`, so that a message can point where it was read;
// point -1 when the problem is about no one point.
struct ProblemPoint {
  int32_t point = -1;
  char value = 'x';
};

// A problem of a data set in the words of its message, and the value of one
// point that it is about, if it is about one.
struct Problem {
  std::string text;
  ProblemPoint about;
  bool empty() const { return text.empty(); }
};

// Why no spline can pass through the n points: fewer than 2 of them, a value
// that is not finite, x not strictly increasing. Empty when one can; about,
// when given, is then set to the value named. With equal_x, for a smoothing
// fit, which merges them, equal x pass and only a decreasing x is refused.
std::string PointsProblem(int32_t n, const double *x, const double *y,
                          ProblemPoint *about = nullptr, bool equal_x = false);

} // namespace knotfit

#endif
