// The samples of the program's plot file, taken once for every caller: the
// program's writer and Spline::plot_samples.
#ifndef KNOTFIT_LIB_PLOT_SAMPLES_H
#define KNOTFIT_LIB_PLOT_SAMPLES_H

#include "knotfit/spline.hpp"

#include <string>
#include <vector>

namespace knotfit {

// The step from first to last knot x in 500 steps, rounded to binary32 on
// purpose: the stored plot files were sampled that way, which is why a range
// gives 500 or 501 samples. A step beyond the binary32 range is infinite,
// and then only the first knot is sampled.
double PlotStep(double first, double last);

// Why the samples stop: "plot step 0.002 does not advance x at 1e+15".
std::string StuckStepProblem(double step, double t);

// Fills samples with (t, value(t)) for t = first, first + step, ... while
// t <= last. Returns why the samples cannot be taken (a step that narrows to
// zero, or one lost when added to a large t, would never leave the loop;
// samples are then empty), or an empty string.
template <class Value>
std::string SamplePlot(double first, double last, Value &&value,
                       std::vector<PlotSample> &samples) {
  samples.clear();
  samples.reserve(502);
  const double step = PlotStep(first, last);
  for (double t = first; t <= last;) {
    samples.push_back({t, value(t)});
    const double next = t + step;
    if (!(next > t)) {
      samples.clear();
      return StuckStepProblem(step, t);
    }
    t = next;
  }
  return {};
}

} // namespace knotfit

#endif
