// A data set from its NAME pair to its two files, in two steps: made (its
// checks, its fit and, where nothing stands in the way, both files written
// beside their targets), on whichever thread -j gives it; then, in its turn
// on the reading thread, told (every message, the trace) and placed.
#ifndef KNOTFIT_FIT_GENERATE_H
#define KNOTFIT_FIT_GENERATE_H

#include "console/console.h"
#include "data_set.h"
#include "fit/table_choice.h"
#include "fit/workspace.h"
#include "input/point_places.h"
#include "kel_path.h"
#include "outcome.h"
#include "output/kel_files.h"
#include "parallel/workers.h"

#include "knotfit/method.hpp"
#include "knotfit_internal.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class RunReport;

// What every data set of a run shares: where its console output goes, which
// interpolant is fitted and how, the arrays reused from one data set to the
// next, where the KEL path is and, with -j, the worker threads.
struct Run {
  Console &console;
  knotfit::MethodChoice method{};
  TableChoice table{};            // --table
  Workspace *workspace = nullptr; // null: each data set uses its own
  Workers *workers = nullptr;
  const KelSettings *kel = nullptr;          // --kel and --mkdir; null: neither
  knotfit::detail::MeasuredRules measured{}; // --sort, --ties, --missing
  // --tolerance: null for a table of every point
  const knotfit::detail::Tolerance *tolerance = nullptr;
  bool verbose = false;                   // --verbose
  knotfit::detail::Smoothing smoothing{}; // -m smooth: --lambda
  bool keep_fit = false;                  // the report judges the fit written
};

// A data set made: checked, fitted in the form of its table, and, when asked
// for and nothing stands in the way, its files written (SaveKEL,
// SavePlotFile) into temporary files beside their targets, its trace kept.
// Prints nothing. A file that could not be created or written leaves none
// (failed()): the data set writes them again in its turn, where the reason
// is reported as it then stands.
class MadeDataSet {
public:
  // The arrays of the fit are work's, which must outlive it.
  MadeDataSet(const DataSet &set, const Run &run, Workspace &work, bool files);
  MadeDataSet(const MadeDataSet &) = delete;
  MadeDataSet &operator=(const MadeDataSet &) = delete;

  // Whether its files were written here.
  bool has_files() const { return static_cast<bool>(table_.file); }
  // Whether writing its files was tried and failed.
  bool failed() const { return failed_; }
  // Whether its turn will write files: it has none, and nothing stops it
  // before its targets are looked at.
  bool WritesInTurn() const {
    return !has_files() && problem_.empty() && refusal_.empty();
  }
  // Lets go of the files written here; its turn writes them.
  void DropFiles();

private:
  friend DataSetOutcome GenerateCubicSpline(const DataSet &, MadeDataSet &,
                                            const Run &);
  void WriteFiles(KelTargets targets, ChunkWriter *trace, Workers *workers,
                  ReplacementFile::Creator creator);

  Problem problem_; // its name's, then the points' and the method's
  std::optional<knotfit::detail::DataSetFit> fit_;
  std::optional<KnotsReached> reached_; // with --tolerance
  Problem refusal_;   // the fit refused (smoothing), or a field of it that
                      // the form cannot hold
  Problem collapsed_; // knots that the form cannot tell apart
  WrittenFile table_, plot_;
  std::string trace_; // of the table written here
  bool failed_ = false;
};

// The data set in its turn, on the reading thread: the notes of --missing
// and --ties, then a data set the reader skipped is reported; one made is
// told, a problem skipping it (a target not a plain file or directory
// missing is found here when its files were not written ahead), a collapse
// or a bound not met warning about it, its files written now if they were
// not, its trace printed and both files placed (PlaceFiles).
DataSetOutcome GenerateCubicSpline(const DataSet &set, MadeDataSet &made,
                                   const Run &run);

// Both steps at once, on this thread (the run's arrays where it has them).
DataSetOutcome GenerateCubicSpline(const DataSet &set, const Run &run);

#endif
