// Where the points that a data set's messages can name were read. A message
// about one point (x not increasing, a value that is not finite or that
// binary32 cannot hold, two knots that binary32 cannot tell apart) points at
// that point's line; but the checks run once the data set is complete, when
// its points are bare numbers, and a line kept for every point would cost
// eight bytes a point. So each point is also checked as it is stored, while
// its line is known, by the same rules as the data set's checks; the first
// point that breaks a rule keeps its place, and as the checks name the first
// point that breaks their rule, they name one of those. A point that breaks
// no rule costs three comparisons.
#ifndef KNOTFIT_INPUT_POINT_PLACES_H
#define KNOTFIT_INPUT_POINT_PLACES_H

#include "knotfit_internal.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

using Problem = knotfit::detail::Problem;

class PointPlaces {
public:
  // Where a value was read: its line, and its column (0 for none: tokens).
  struct Where {
    uint64_t line = 0;
    size_t column = 0;
  };

  // The columns x and y are read from (CSV), for Find.
  void SetColumns(size_t x_column, size_t y_column) {
    columns_[0] = x_column;
    columns_[1] = y_column;
  }

  // Point i, (x, y), read on the given lines, after the points 0 to i - 1
  // (numbered as Add numbered them; 0: none before it).
  void Add(size_t i, double x, double y, uint64_t x_line, uint64_t y_line) {
    // Finite, within binary32, and above the point before also in binary32
    // (rounding to binary32 keeps the order, so x is above it in double):
    // no rule broken.
    if (knotfit::detail::FitsBinary32(x) && knotfit::detail::FitsBinary32(y) &&
        static_cast<float>(x) > last_) [[likely]] {
      last_ = static_cast<float>(x);
      last_x_ = x;
      return;
    }
    Broken(i, x, y, x_line, y_line);
  }

  // Takes the finds of later, which checked the points from first on,
  // numbered from 0, without the one before them: that point is added here
  // first, on its own.
  void Append(const PointPlaces &later, size_t first);

  // Where the value a problem is about was read; none when the problem is
  // about no one point, or about a value that was not checked as it was
  // read (the fit's coefficients).
  std::optional<Where> Find(const knotfit::detail::ProblemPoint &about) const;

  // Starts the next data set, in the same columns.
  void Clear();

private:
  // The rules of the data set's checks, each naming its first point:
  // PointsProblem's (a value that is not finite, or x not above the x
  // before it), TableProblem's for x and for y, CollapsedKnots'.
  enum Rule { kPoints, kXRange, kYRange, kCollapsed, kRules };
  struct Found {
    size_t point = SIZE_MAX; // SIZE_MAX: none yet
    char value = 'x';
    uint64_t line = 0;
  };

  void Broken(size_t i, double x, double y, uint64_t x_line, uint64_t y_line);
  void Keep(Rule rule, size_t point, char value, uint64_t line);

  Found found_[kRules];
  size_t columns_[2] = {0, 0};
  float last_ = -HUGE_VALF; // the point before, rounded to binary32
  double last_x_ = 0.0;     // and in double
};

#endif
