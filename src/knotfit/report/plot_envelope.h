// A long curve drawn without aliasing: the lowest and highest value it takes
// within each pixel column of the plot.
#ifndef KNOTFIT_REPORT_PLOT_ENVELOPE_H
#define KNOTFIT_REPORT_PLOT_ENVELOPE_H

#include "report/run_report.h"

#include "knotfit/spline.hpp"
#include "knotfit/table.hpp"

// The extremes of S in each of kPlotColumns equal columns from x[0] to
// x[n-1], exact: S is evaluated at the column edges, the knots and the
// points where S' is zero, and between those it is monotone.
Envelope EnvelopeOf(const knotfit::Spline &fit);
// The same for a table's curve, over the fit's columns.
Envelope EnvelopeOf(const knotfit::Table &table, double from, double to);

#endif
