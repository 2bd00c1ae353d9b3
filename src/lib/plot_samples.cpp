#include "plot_samples.h"

#include "checks.h"
#include "evaluate.h"
#include "exact_math.h"

#include <limits>

namespace knotfit {

std::string SamplePlot(int32_t n, const double *x, const double *y,
                       const double *a, const double *b, const double *c,
                       std::vector<PlotSample> &samples) {
  samples.clear();
  if (n < 1) {
    return "no knots to sample";
  }
  // The step is narrowed to binary32 on purpose: the stored plot files were
  // sampled that way, which is why a range gives 500 or 501 samples. The
  // running abscissa stays a double. A step beyond the binary32 range
  // becomes infinity, as the narrowing does in IEEE arithmetic (C++ leaves
  // that conversion undefined), and then only x[0] is sampled.
  const double range_step = (x[n - 1] - x[0]) / 500.0;
  const double step = range_step < kBinary32Overflow
                          ? static_cast<float>(range_step)
                          : std::numeric_limits<double>::infinity();
  const Pieces<double> spline{static_cast<size_t>(n), x, y, a, b, c};
  samples.reserve(502);
  for (double t = x[0]; t <= x[n - 1];) {
    samples.push_back({t, spline.Value(t)});
    // A step that narrows to zero, or one that is lost when added to a large
    // abscissa (1e15 + 0.002 == 1e15), would never leave this loop.
    const double next = t + step;
    if (!(next > t)) {
      samples.clear();
      return "plot step " + ShortNumber(step) + " does not advance x at " +
             ShortNumber(t);
    }
    t = next;
  }
  return {};
}

} // namespace knotfit
