// The program's own layer: a data set fitted and written under the KEL path,
// with the echo, trace and messages of a run.
#ifndef KNOTFIT_APP_KEL_H
#define KNOTFIT_APP_KEL_H

#include "console.h"
#include "replacement_file.h"
#include "table_form.h"

#include "knotfit/method.hpp"

#include <cstdint>
#include <memory>
#include <string>

// What every data set of a run shares: where its console output goes and
// which interpolant is fitted. The functions below without one use a plain
// console (echo and trace on standard output) and the not-a-knot spline.
struct Run {
  Console &console;
  knotfit::MethodChoice method{};
  Workspace *workspace = nullptr; // arrays reused across data sets, if any
  KelSettings kel{};              // where the KEL path is, and --mkdir
};

// Why the data set cannot be fitted and written: a name that cannot name a
// file under CS, or points no spline passes through. Empty when it can.
std::string CheckDataSet(int32_t n, const double *x, const double *y,
                         const char *name);

// CheckDataSet, the method's own needs and both targets (a problem is
// reported on standard error and gives -1), then the fit (by default with
// the not-a-knot solver of ComputeCubicSpline, kept as the table stores it)
// and its binary32 check, followed by SaveKEL and, only if that returned 0,
// SavePlotFile. Returns 0 when both files were written, 1 when they were
// written with a warning (knots that binary32 cannot tell apart), else -1.
int32_t GenerateCubicSpline(int32_t n, const double *x, const double *y,
                            const char *name, const Run &run);
int32_t GenerateCubicSpline(int32_t n, const double *x, const double *y,
                            const char *name);

// Writes the binary coefficient table CS/<name> (to a temporary file renamed
// over it) and traces every value on standard output. Returns 0, or -1 when
// the file could not be created in a subdirectory of CS, written or renamed
// (the previous file stays). Ends the process with status 255 when CS itself
// cannot be used.
int32_t SaveKEL(const char *name, int32_t n, const double *x, const double *y,
                const double *a, const double *b, const double *c,
                const Run &run);
// SaveKEL for a fit in any form (table_form.h), and the same with the target
// already located (a data set locates both of its targets once).
int32_t SaveTable(const char *name, const TableForm &form, const Run &run);
int32_t SaveTable(const char *name, KelTarget target, const KelProblem &problem,
                  const TableForm &form, const Run &run);
int32_t SaveKEL(const char *name, int32_t n, const double *x, const double *y,
                const double *a, const double *b, const double *c);

// Writes the plot file CS/plot/<name>, the spline sampled in steps of one
// five-hundredth of the knot range. Returns 0, or -1 when it could not be
// written or the step cannot advance across the range; then an old plot
// file of that name is removed, as it no longer belongs to the table. Ends
// the process with status 254 when CS/plot itself cannot be used.
int32_t SavePlotFile(const char *name, int32_t n, const double *x,
                     const double *y, const double *a, const double *b,
                     const double *c, const Run &run);
int32_t SavePlotFile(const char *name, int32_t n, const double *x,
                     const double *y, const double *a, const double *b,
                     const double *c);
// SavePlotFile with the target already located; b and c may be null (a fit
// kept in binary32: the samples recompute them from the slopes).
int32_t SavePlot(const char *name, KelTarget target, const KelProblem &located,
                 int32_t n, const double *x, const double *y, const double *a,
                 const double *b, const double *c, const Run &run);

// Opens a new file that will replace <KEL path>/<subdir>/<name> once it is
// committed (mode is "w": files are only ever written whole). The KEL path
// is $TROV_KEL, else $HOME/.TROV_KEL. The result is never null; when the file
// could not be created it is not open and says why. Creates no directories
// and prints nothing.
std::unique_ptr<ReplacementFile>
open_KEL_file(const char *subdir, const char *name, const char *mode);
// open_KEL_file for a target already located.
std::unique_ptr<ReplacementFile> OpenReplacement(KelTarget target,
                                                 const KelProblem &problem);

#endif
