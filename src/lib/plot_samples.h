// The samples of the program's plot file, taken once for every caller: the
// program's writer and Spline::plot_samples.
#ifndef KNOTFIT_LIB_PLOT_SAMPLES_H
#define KNOTFIT_LIB_PLOT_SAMPLES_H

#include "knotfit/spline.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace knotfit {

// Fills samples with (t, getValue(t)) for t = x[0], x[0] + step, ... while
// t <= x[n-1], with step (x[n-1] - x[0]) / 500 rounded to binary32. Returns
// why the samples cannot be taken ("plot step 0.002 does not advance x at
// 1e+15", samples then empty), or an empty string.
std::string SamplePlot(int32_t n, const double *x, const double *y,
                       const double *a, const double *b, const double *c,
                       std::vector<PlotSample> &samples);

} // namespace knotfit

#endif
