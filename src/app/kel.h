// The program's own layer: a data set fitted and written under the KEL path,
// with the echo, trace and messages of a run.
#ifndef KNOTFIT_APP_KEL_H
#define KNOTFIT_APP_KEL_H

#include "console.h"
#include "kel_path.h"
#include "outcome.h"
#include "replacement_file.h"
#include "table_form.h"

#include "knotfit/method.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// What every data set of a run shares: where its console output goes, which
// interpolant is fitted, the arrays reused from one data set to the next (a
// data set without them uses its own), and where the KEL path is; and where
// the data set at hand stands in its input.
struct Run {
  Console &console;
  knotfit::MethodChoice method{};
  Workspace *workspace = nullptr;
  const KelSettings *kel = nullptr; // --kel and --mkdir; null: neither
  std::string_view place{}; // where the data set at hand stands in its input
                            // ("input:12: "), for its messages
};

// Why the data set cannot be fitted and written: a name that cannot name a
// file under CS, or points no spline passes through. Empty when it can.
std::string CheckDataSet(int32_t n, const double *x, const double *y,
                         const char *name);

// Checks the data set (CheckDataSet, the method's own needs, both targets
// located once; a problem is reported and fails it), fits it and checks its
// binary32 fields, then calls SaveKEL and, only if that wrote the table,
// SavePlotFile, which puts both files in place together. kWarned when both
// files were written but binary32 cannot tell two knots apart; else the
// writers' outcome.
Outcome GenerateCubicSpline(int32_t n, const double *x, const double *y,
                            const char *name, const Run &run);

// Writes the binary coefficient table CS/<name> for the fit to a temporary
// file beside it and traces every value on standard output. kWritten when
// the temporary file is complete: it waits in table for SavePlotFile, which
// renames it over the target together with the plot file. kFailed when the
// file could not be created in a subdirectory of CS or written (the
// previous file stays); kNoTables when CS itself cannot be used, which ends
// the run.
Outcome SaveKEL(const char *name, const TableForm &fit, KelTarget target,
                const Run &run, std::unique_ptr<ReplacementFile> &table);

// Writes the plot file CS/plot/<name>, the fit sampled in steps of one
// five-hundredth of the knot range, to a temporary file, then renames the
// data set's table (SaveKEL) and the plot file over their targets with the
// signals that end a run held back: a stopped run finds both old files or
// both new ones. kFailed when the plot file could not be written or the
// step cannot advance across the range: the new table is still put in place
// and an old plot file of that name removed, as it no longer belongs to the
// table (or, when the table cannot be renamed, nothing changes). kNoPlots
// when CS/plot itself cannot be used, which ends the run after the data
// set's new table.
Outcome SavePlotFile(const char *name, const TableForm &fit, KelTarget target,
                     const Run &run, ReplacementFile &table);

// Opens a new file that will replace the target once it is committed: files
// are only ever written whole. The result is never null; when the target
// could not be located or the file not created, it is not open and says
// why. Creates no directories and prints nothing.
std::unique_ptr<ReplacementFile> open_KEL_file(KelTarget target);

#endif
