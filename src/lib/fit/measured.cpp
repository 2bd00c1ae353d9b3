#include "measured.h"

#include "../exact_math.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace knotfit {

bool ParseTies(std::string_view name, Ties &ties) {
  for (const Ties rule : {Ties::kMean, Ties::kFirst, Ties::kLast}) {
    if (name == TiesName(rule)) {
      ties = rule;
      return true;
    }
  }
  return false;
}

const char *TiesName(Ties ties) {
  switch (ties) {
  case Ties::kMean:
    return "mean";
  case Ties::kFirst:
    return "first";
  case Ties::kLast:
    return "last";
  case Ties::kKeep:
    break;
  }
  return "keep";
}

bool IsMissingText(std::string_view text) {
  static constexpr std::string_view kSpellings[] = {
      "na", "n/a", "nan", "null", "none", "?", "-"};
  return std::any_of(std::begin(kSpellings), std::end(kSpellings),
                     [text](std::string_view spelling) {
                       return text.size() == spelling.size() &&
                              std::equal(text.begin(), text.end(),
                                         spelling.begin(), [](char a, char b) {
                                           return (a >= 'A' && a <= 'Z'
                                                       ? a - 'A' + 'a'
                                                       : a) == b;
                                         });
                     });
}

MeasuredCounts ApplyMeasuredRules(size_t n, double *x, double *y, size_t *index,
                                  const unsigned char *missing,
                                  const MeasuredRules &rules) {
  MeasuredCounts counts;
  counts.read = n;
  // The points kept, by their index as read.
  std::vector<size_t> kept;
  kept.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const bool gone =
        rules.skip_missing && ((missing != nullptr && missing[i] != 0) ||
                               std::isnan(x[i]) || std::isnan(y[i]));
    if (!gone) {
      kept.push_back(i);
    } else if (counts.dropped++ == 0) {
      counts.first_dropped = i;
    }
  }
  if (rules.sort) {
    // NaN last, where the finiteness check finds it: a comparison with it
    // orders nothing.
    std::stable_sort(kept.begin(), kept.end(), [x](size_t a, size_t b) {
      return x[a] < x[b] || (!std::isnan(x[a]) && std::isnan(x[b]));
    });
  }
  // Runs of equal x, each one point; its y by the rule, a mean summed in
  // the order read, left to right.
  std::vector<double> new_x, new_y;
  new_x.reserve(kept.size());
  new_y.reserve(kept.size());
  size_t used = 0;
  bool any_merged = false;
  for (size_t start = 0; start < kept.size();) {
    size_t end = start + 1;
    if (rules.ties != Ties::kKeep) {
      while (end < kept.size() && x[kept[end]] == x[kept[start]]) {
        ++end;
      }
    }
    double value = y[kept[start]];
    if (rules.ties == Ties::kMean) {
      for (size_t k = start + 1; k < end; ++k) {
        value = value + y[kept[k]];
      }
      value = value / static_cast<double>(end - start);
      const bool finite =
          std::all_of(kept.begin() + static_cast<std::ptrdiff_t>(start),
                      kept.begin() + static_cast<std::ptrdiff_t>(end),
                      [y](size_t k) { return std::isfinite(y[k]); });
      if (!std::isfinite(value) && finite && counts.overflowed == 0) {
        counts.overflowed = end - start;
        counts.overflow_at = kept[start];
        counts.overflow_x = x[kept[start]];
      }
    } else if (rules.ties == Ties::kLast) {
      value = y[kept[end - 1]];
    }
    for (size_t k = start + 1; k < end; ++k) {
      if (!any_merged || kept[k] < counts.first_merged) {
        counts.first_merged = kept[k];
        any_merged = true;
      }
    }
    counts.merged += end - start - 1;
    new_x.push_back(x[kept[start]]);
    new_y.push_back(value);
    index[used++] = kept[start];
    start = end;
  }
  std::copy(new_x.begin(), new_x.end(), x);
  std::copy(new_y.begin(), new_y.end(), y);
  return counts;
}

} // namespace knotfit
