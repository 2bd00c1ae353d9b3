// The two file formats, written to an open stream: what SaveKEL and
// SavePlotFile do once their file is open, reusable with any sink.
#ifndef KNOTFIT_KEL_WRITERS_H
#define KNOTFIT_KEL_WRITERS_H

#include "knotfit/spline.hpp"
#include "sink.h"
#include "table_form.h"

#include <cstdint>
#include <vector>

// Writes the coefficient table (4 + 20*n bytes) to file and traces every
// value to trace_to (everything but the closing "done"; nothing when null).
// False when a write to file failed.
bool WriteCoefficientTable(Sink &file, Sink *trace_to, const TableForm &form);

// Writes one "%f \t %f \n" line per sample to file. False when a write
// failed.
bool WritePlotLines(Sink &file,
                    const std::vector<knotfit::PlotSample> &samples);

#endif
