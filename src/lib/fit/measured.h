// Data as measured: points read in any order, several readings at one x,
// readings missing. The rules that make such points a data set a spline can
// pass through, the same for the program and the Python module.
#ifndef KNOTFIT_LIB_MEASURED_H
#define KNOTFIT_LIB_MEASURED_H

#include "knotfit/request.hpp" // Ties, MeasuredRules

#include <cstddef>
#include <string_view>

namespace knotfit {

// "mean", "first", "last"; false for any other name.
bool ParseTies(std::string_view name, Ties &ties);
const char *TiesName(Ties ties);

// A missing reading as tables write it: NA, N/A, NaN, null, None, ? or -,
// in any case.
bool IsMissingText(std::string_view text);

// What the rules did to a data set; first_dropped and first_merged are the
// lowest index (as read) of a point dropped, and of a point merged into the
// one before it at its x, when there is any. overflowed counts the finite y
// of the first run of equal x (by x) whose mean overflows a double (their sum
// does), overflow_x their x and overflow_at the index as read of the first.
struct MeasuredCounts {
  size_t read = 0, dropped = 0, merged = 0;
  size_t first_dropped = 0, first_merged = 0;
  size_t overflowed = 0, overflow_at = 0;
  double overflow_x = 0.0;
  size_t used() const { return read - dropped - merged; }
};

// Applies the rules to the n points x, y in place: drops the missing ones
// (missing[i] nonzero, or x or y NaN; missing may be null), sorts the rest
// stably by x, merges each run of equal x into one point. index[i] gets the
// index as read of the point now at i (of the first of a merged run).
// The points used are the first used() of x, y and index.
MeasuredCounts ApplyMeasuredRules(size_t n, double *x, double *y, size_t *index,
                                  const unsigned char *missing,
                                  const MeasuredRules &rules);

} // namespace knotfit

#endif
