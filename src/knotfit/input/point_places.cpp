#include "input/point_places.h"

namespace detail = knotfit::detail;

void PointPlaces::Keep(Rule rule, size_t point, char value, uint64_t line) {
  Found &found = found_[rule];
  if (found.point == SIZE_MAX) {
    found = {point, value, line};
  }
}

// The rules one by one, as the checks apply them.
void PointPlaces::Broken(size_t i, double x, double y, uint64_t x_line,
                         uint64_t y_line) {
  if (!std::isfinite(x) || !std::isfinite(y) || (i > 0 && !(x > last_x_))) {
    // A value that is not finite is named before the order, x before y.
    const bool bad_y = std::isfinite(x) && !std::isfinite(y);
    Keep(kPoints, i, bad_y ? 'y' : 'x', bad_y ? y_line : x_line);
  }
  if (!detail::FitsBinary32(x)) {
    Keep(kXRange, i, 'x', x_line);
  }
  if (!detail::FitsBinary32(y)) {
    Keep(kYRange, i, 'y', y_line);
  }
  const float narrow = detail::Narrow(x);
  if (i > 0 && !(narrow > last_)) {
    Keep(kCollapsed, i, 'x', x_line);
  }
  last_ = narrow;
  last_x_ = x;
}

void PointPlaces::Append(const PointPlaces &later, size_t first) {
  for (int rule = 0; rule < kRules; ++rule) {
    const Found &found = later.found_[rule];
    if (found.point != SIZE_MAX) {
      Keep(static_cast<Rule>(rule), first + found.point, found.value,
           found.line);
    }
  }
  last_ = later.last_;
  last_x_ = later.last_x_;
}

std::optional<PointPlaces::Where>
PointPlaces::Find(const detail::ProblemPoint &about) const {
  for (const Found &found : found_) {
    if (about.point >= 0 && found.point == static_cast<size_t>(about.point) &&
        found.value == about.value) {
      return Where{found.line, columns_[about.value == 'y' ? 1 : 0]};
    }
  }
  return std::nullopt;
}

void PointPlaces::Clear() {
  for (Found &found : found_) {
    found = Found();
  }
  last_ = -HUGE_VALF;
}
