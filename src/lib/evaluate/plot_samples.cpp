#include "plot_samples.h"

#include "../exact_math.h"
#include "../table/table_encoding.h"
#include "../text/short_numbers.h"

namespace knotfit {

double PlotStep(double first, double last) {
  return Narrow((last - first) / 500.0);
}

std::string StuckStepProblem(double step, double t) {
  return "plot step " + ShortNumber(step) + " does not advance x at " +
         ShortNumber(t);
}

} // namespace knotfit
