// A data set from its NAME pair to its files: checked, fitted, formatted
// (ahead of its turn with -j) and handed to the writers.
#ifndef KNOTFIT_FIT_GENERATE_H
#define KNOTFIT_FIT_GENERATE_H

#include "console/console.h"
#include "fit/table_form.h"
#include "input/point_places.h"
#include "kel_path.h"
#include "outcome.h"
#include "parallel/workers.h"
#include "replacement_file.h"

#include "knotfit/method.hpp"
#include "knotfit_internal.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// What every data set of a run shares: where its console output goes, which
// interpolant is fitted, the arrays reused from one data set to the next (a
// data set without them uses its own), where the KEL path is and, with -j,
// the worker threads; and where the data set at hand and its points stand in
// its input.
struct Run {
  Console &console;
  knotfit::MethodChoice method{};
  TableChoice table{}; // --table
  Workspace *workspace = nullptr;
  Workers *workers = nullptr;
  const KelSettings *kel = nullptr; // --kel and --mkdir; null: neither
  std::string_view place{}; // where the data set at hand stands in its input
                            // ("input:12: "), for its messages
  std::string_view input{}; // its input, as messages name it
  // Where its points were read, for the messages about one of them; null:
  // they point at place too.
  const PointPlaces *points = nullptr;
  knotfit::detail::MeasuredRules measured{}; // --sort, --ties, --missing
  // --tolerance: null for a table of every point
  const knotfit::detail::Tolerance *tolerance = nullptr;
  bool verbose = false;                   // --verbose
  knotfit::detail::Smoothing smoothing{}; // -m smooth: --lambda
  // The weights of the data set at hand, one per point (--weights); null:
  // every weight 1.
  const double *weights = nullptr;
};

// A data set's checks, fit and every byte its writers write, made ahead of
// its turn by a worker thread (-j), which prints and touches nothing: what
// GenerateCubicSpline then needs no more than the file system for.
struct PreparedDataSet {
  Problem problem; // CheckDataSet, then the method's own needs
  knotfit::TableForm form = knotfit::TableForm::kClassic; // of its table
  Problem binary32;  // the fit refused (smoothing), or a field of it that
                     // the form cannot hold
  Problem collapsed; // knots that the form cannot tell apart
  std::string trace; // the trace's record lines (none when quiet)
  std::string table; // the table file's bytes
  std::string plot;  // the plot file's lines,
  std::string plot_problem;            // or why it has none
  std::optional<KnotsReached> reached; // with --tolerance
  // Both files written ahead too (WriteAhead): complete temporary files
  // beside their targets, waiting to be renamed in the data set's turn.
  // Null when they were not.
  std::unique_ptr<ReplacementFile> table_file, plot_file;
  bool ahead_failed = false; // a file could not be created or written ahead
  // A smoothing fit: its knots and what it chose.
  std::shared_ptr<const knotfit::detail::SmoothingFit> smoothing;
};
PreparedDataSet PrepareDataSet(int32_t n, const double *x, const double *y,
                               std::string_view name, const Run &run,
                               Workspace &work);

// Locates the targets of a data set prepared without a problem and writes
// its table and plot file into their temporary files, on a worker thread,
// ahead of its turn: then only the renames are left for the reading thread.
// Leaves no file where anything is not that simple (a problem, a target that
// is not a plain new or writable file, a directory to make with --mkdir,
// which must happen in its turn), and when a file could not be created or
// written (ahead_failed). The caller makes sure that no earlier data set in
// flight goes to the same files.
void WriteAhead(PreparedDataSet &made, std::string_view name,
                const KelSettings &kel);

// Why the data set cannot be fitted and written: a name that cannot name a
// file under CS, or points no spline passes through (with equal_x, for a
// smoothing fit, equal x pass). Empty when it can.
Problem CheckDataSet(int32_t n, const double *x, const double *y,
                     std::string_view name, bool equal_x = false);

// Checks the data set (CheckDataSet, the method's own needs, both targets
// located once; a problem is reported and fails it), fits it and checks its
// binary32 fields, then calls SaveKEL and, only if that wrote the table,
// SavePlotFile, which puts both files in place together: the writers'
// outcome, warned when the table was written but binary32 cannot tell two
// of its knots apart. With a data set prepared ahead, its checks, fit and
// bytes are taken from there, and only the file system is looked at; with
// its files written ahead, they are taken too, and only renamed.
DataSetOutcome GenerateCubicSpline(int32_t n, const double *x, const double *y,
                                   std::string_view name, const Run &run,
                                   PreparedDataSet *ahead = nullptr);

#endif
