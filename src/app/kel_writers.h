// The two file formats, written to an open sink: what SaveKEL and
// SavePlotFile do once their file is open.
#ifndef KNOTFIT_KEL_WRITERS_H
#define KNOTFIT_KEL_WRITERS_H

#include "chunk_writer.h"
#include "sink.h"

#include "knotfit/spline.hpp"
#include "knotfit_internal.h"

#include <vector>

// Writes the coefficient table (4 + 20*n bytes) to file and, unless trace is
// null, every value to it (all but the header and the closing "done"). False
// when a write to file failed.
bool WriteCoefficientTable(Sink &file, ChunkWriter *trace,
                           const knotfit::detail::TableFields &fields);

// Writes one "%f \t %f \n" line per sample to file. False when a write
// failed.
bool WritePlotLines(Sink &file,
                    const std::vector<knotfit::PlotSample> &samples);

#endif
