// The two files of a data set under the KEL path: SaveKEL, SavePlotFile and
// open_KEL_file, and the two formats they write to an open sink.
#ifndef KNOTFIT_OUTPUT_KEL_FILES_H
#define KNOTFIT_OUTPUT_KEL_FILES_H

#include "console/chunk_writer.h"
#include "console/console.h"
#include "outcome.h"
#include "parallel/workers.h"
#include "replacement_file.h"
#include "sink.h"

#include "knotfit/spline.hpp"
#include "knotfit_internal.h"

#include <memory>
#include <string>
#include <string_view>
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
std::string SampleFit(const knotfit::detail::DataSetFit &fit,
                      std::vector<knotfit::PlotSample> &samples);

// Writes one "%f \t %f \n" line per sample to file. False when a write
// failed.
bool WritePlotLines(Sink &file,
                    const std::vector<knotfit::PlotSample> &samples);

// What a writer made of its file: a complete temporary file, closed and
// waiting beside its target to be put in place, or one that could not be
// created (not open) or written. The file is never null: it holds its
// target either way.
struct WrittenFile {
  std::unique_ptr<ReplacementFile> file;
  bool created = false;  // the temporary file was created
  bool complete = false; // and written and closed
  // SavePlotFile: why the fit has no plot (a step that cannot advance
  // across the range); no file was then created.
  std::string unplottable;
};

// Writes the binary coefficient table CS/<name> of the fit to a temporary
// file beside its target, and traces it on trace unless that is null: " writing
// : \n " once the file is created, every value, and "done\n" once the file
// is complete. With workers, a long trace is formatted by them. Reports
// nothing: PlaceFiles does, in the data set's turn. creator: the thread
// that calls it.
WrittenFile SaveKEL(const knotfit::detail::DataSetFit &fit, KelTarget target,
                    ChunkWriter *trace, Workers *workers,
                    ReplacementFile::Creator creator);

// Writes the plot file CS/plot/<name>, the fit sampled in steps of one
// five-hundredth of the knot range, to a temporary file beside its target.
// The samples are taken first: a step that cannot advance across the range
// creates no file. Reports nothing.
WrittenFile SavePlotFile(const knotfit::detail::DataSetFit &fit,
                         KelTarget target, ReplacementFile::Creator creator);

// In the data set's turn, once what was printed before its files is out:
// reports what SaveKEL and SavePlotFile made (the plot only looked at when
// the table is complete) and puts both files in place together, with the
// signals that end a run held back: a stopped run finds both old files or
// both new ones. kWritten; kUnplotted when the plot file could not be
// written or sampled: the new table still goes in place and an old plot
// file of that name is removed, as it no longer belongs to the table
// (kFailed when the table cannot be renamed: nothing changes); kFailed
// when the table could not be created in a subdirectory of CS or written
// (the previous file stays); kNoTables when CS itself cannot be used and
// kNoPlots when CS/plot cannot (after the new table), which end the run.
// The reason is the problem its message gave.
struct FilesPlaced {
  Outcome files = Outcome::kFailed;
  std::string reason;
};
FilesPlaced PlaceFiles(std::string_view name, const std::string &place,
                       WrittenFile &table, WrittenFile &plot, Console &console);

// Opens a new file that will replace the target once it is committed: files
// are only ever written whole. The result is never null; when the target
// could not be located or the file not created, it is not open and says
// why. Creates no directories and prints nothing.
std::unique_ptr<ReplacementFile> open_KEL_file(
    KelTarget target,
    ReplacementFile::Creator creator = ReplacementFile::Creator::kRunThread);

#endif
