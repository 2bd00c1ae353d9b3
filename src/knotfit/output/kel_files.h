// The two files of a data set under the KEL path: SaveKEL, SavePlotFile and
// open_KEL_file, and the two formats they write to an open sink.
#ifndef KNOTFIT_OUTPUT_KEL_FILES_H
#define KNOTFIT_OUTPUT_KEL_FILES_H

#include "console/chunk_writer.h"
#include "fit/generate.h"
#include "fit/table_form.h"
#include "parallel/workers.h"
#include "sink.h"

#include "knotfit/spline.hpp"
#include "knotfit_internal.h"

#include <string>
#include <vector>

// Writes the coefficient table in the form (4 + 20*n bytes in the classic
// one) to file and, unless trace is null, every value to it (all but the
// header and the closing "done"): the classic form's as stored, the offset
// and double forms' as a reader gives them back, so that the trace reads the
// same in every form. False when a write to file failed.
// With workers, the trace of a long classic table is formatted by them.
bool WriteCoefficientTable(Sink &file, ChunkWriter *trace,
                           const knotfit::detail::TableFields &fields,
                           knotfit::TableForm form, Workers *workers = nullptr);

// The fit's plot samples (knotfit::detail::SamplePlot), or why there are
// none.
std::string SampleFit(const TableForm &fit,
                      std::vector<knotfit::PlotSample> &samples);

// Writes one "%f \t %f \n" line per sample to file. False when a write
// failed.
bool WritePlotLines(Sink &file,
                    const std::vector<knotfit::PlotSample> &samples);

// What SaveKEL and SavePlotFile write: the fit, formatted as it is written
// (one thread; and a long data set, whose output is never held whole), or
// the bytes made ahead.
struct WriterInput {
  const TableForm *fit = nullptr;
  const PreparedDataSet *made = nullptr;
};

// Writes the binary coefficient table CS/<name> for the fit to a temporary
// file beside it and traces every value on standard output; a table already
// in table was written ahead, and only its trace is printed. kWritten when
// the temporary file is complete: it waits in table for SavePlotFile, which
// renames it over the target together with the plot file. kFailed when the
// file could not be created in a subdirectory of CS or written (the
// previous file stays); kNoTables when CS itself cannot be used, which ends
// the run.
Outcome SaveKEL(std::string_view name, WriterInput fit, KelTarget target,
                const Run &run, std::unique_ptr<ReplacementFile> &table);

// Writes the plot file CS/plot/<name>, the fit sampled in steps of one
// five-hundredth of the knot range, to a temporary file, then renames the
// data set's table (SaveKEL) and the plot file over their targets with the
// signals that end a run held back: a stopped run finds both old files or
// both new ones. kUnplotted when the plot file could not be written or the
// step cannot advance across the range: the new table is still put in place
// and an old plot file of that name removed, as it no longer belongs to the
// table (kFailed when the table cannot be renamed: nothing changes). kNoPlots
// when CS/plot itself cannot be used, which ends the run after the data
// set's new table. A plot file written ahead comes in ahead; target is then
// unused.
Outcome SavePlotFile(std::string_view name, WriterInput fit, KelTarget target,
                     const Run &run, ReplacementFile &table,
                     std::unique_ptr<ReplacementFile> ahead = nullptr);

// Opens a new file that will replace the target once it is committed: files
// are only ever written whole. The result is never null; when the target
// could not be located or the file not created, it is not open and says
// why. Creates no directories and prints nothing.
std::unique_ptr<ReplacementFile> open_KEL_file(KelTarget target);

#endif
