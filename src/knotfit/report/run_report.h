// What --report, --json and --fail-on keep of a run: one record per data set
// (written or skipped) with its diagnostics and its figure, the HTML report
// and the JSON summary made from them at the end, and the data sets that fail
// the run. Without --fail-on nothing that is printed waits for a diagnosis,
// so the data sets are diagnosed and drawn on a thread of their own beside
// the run.
#ifndef KNOTFIT_REPORT_RUN_REPORT_H
#define KNOTFIT_REPORT_RUN_REPORT_H

#include "console/console.h"
#include "kel_path.h"
#include "outcome.h"
#include "parallel/workers.h"
#include "report/diagnostics.h"
#include "shard.h"

#include "knotfit/method.hpp"
#include "knotfit/spline.hpp"
#include "knotfit/table.hpp"
#include "knotfit_internal.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The pixel columns of a plot: a fit of more knots than half of them is
// drawn as the lowest and highest value of S in each column.
constexpr size_t kPlotColumns = 640;

// The lowest and highest value of a curve in each of the plot's columns.
struct Envelope {
  std::vector<double> low, high;
};

// One data set as the report and the summary show it.
struct DataSetRecord {
  uint64_t number = 0; // in the whole input: its place in the page and summary
  std::string name;
  std::string input; // as given on the command line, "-" standard input
  uint64_t line = 0; // of its NAME pair
  size_t points = 0;
  knotfit::MethodChoice method;
  // With --table: the form its table was written in (also without, for
  // the diagnosis: classic).
  std::optional<knotfit::TableForm> table;
  double x_min = 0, x_max = 0, y_min = 0, y_max = 0; // when points > 0
  // With --sort, --ties or --missing: its points as read, dropped, merged
  // and used.
  std::optional<knotfit::detail::MeasuredCounts> measured;
  std::optional<KnotsReached> knots; // with --tolerance, once fitted
  std::string skipped; // why it was not written; empty when it was
  std::string plot;    // why its table went without its plot file; empty
                       // when it did not
  // A smoothing fit written: its knots, what it chose and how near it stays
  // to the points; let go once the record is complete.
  std::shared_ptr<const knotfit::detail::SmoothingFit> smoothing;
  // With --tolerance, the table written: what is judged and drawn; let go
  // likewise.
  std::shared_ptr<const knotfit::detail::ToleranceFit> tolerance;
  // An interpolant's fit written, where it was kept; let go likewise.
  std::shared_ptr<const knotfit::Spline> fit;
  Diagnosis diagnosis;
  // Its parts of the HTML report (index row, figure) and of the JSON
  // summary, made with its diagnosis.
  std::string row, figure, json;
};

// The run's totals, as the report and the summary both give them.
struct RecordTotals {
  size_t data_sets = 0;
  size_t written = 0;      // its table written, those below included
  size_t without_plot = 0; // its table written, not its plot file
  size_t skipped = 0;
  size_t flagged = 0; // with any flag
  size_t failed_fail_on = 0;
  ShardChoice shard; // the shard of the input the records are (none: all)
};

// The totals of the records; failed_fail_on is counted as they are added.
RecordTotals TotalsOf(const std::deque<DataSetRecord> &records,
                      size_t failed_fail_on);

// What the figure of a written data set draws, each part optional: a short
// fit itself (the page derives the table's fields from it, as the writer
// rounds them in its form); for a long one, the extremes of S in each column,
// and of the table's curve where it differs. Its data points where they are
// not the knots, or, more than kPlotColumns / 2 of them, the extremes of the
// points and of their residuals y - T(x) in each column.
struct PlotData {
  std::optional<knotfit::Spline> fit;
  knotfit::TableForm form = knotfit::TableForm::kClassic;
  Envelope curve, table;
  std::vector<double> x, y; // the points, when not the knots
  Envelope points, residuals;
  // A short smoothing fit's 95% band at its knots, where it has one.
  std::vector<double> band_low, band_high;
};

struct RunReportOptions {
  std::string report; // the HTML file, empty for none
  std::string json;   // the JSON summary, empty for none
  FlagSet fail_on = 0;
  // --shard: the summary names the shard, gives each data set's number and,
  // with the report, its parts of the page, for knotfit-merge.
  ShardChoice shard;
  bool any() const { return !report.empty() || !json.empty() || fail_on != 0; }
};

// Why the files of --report and --json must not be written where they are
// named, looked at before any input is read: they name the same file, one
// names an input, or one lies in the KEL path's CS directory or below it,
// where the tables and plot files are replaced. Files are compared by device
// and inode where they exist ('-' is standard input's file), else by their
// paths resolved. Empty when nothing is wrong.
std::string OutputPathProblem(const RunReportOptions &options,
                              const std::vector<std::string> &inputs,
                              const KelSettings &kel);

// Writes the page and the summary that options name from the records, each
// to a temporary file renamed over its target: the run's, and the merge's of
// shards. tell is handed each failure: "cannot write 'FILE': why".
bool WriteReportFiles(const RunReportOptions &options,
                      const std::deque<DataSetRecord> &records,
                      const RecordTotals &totals,
                      const std::function<void(const std::string &)> &tell);

class RunReport {
public:
  explicit RunReport(RunReportOptions options);
  // Drops what the thread beside the run has not begun.
  ~RunReport();
  RunReport(const RunReport &) = delete;
  RunReport &operator=(const RunReport &) = delete;

  // A data set at its NAME pair, once written (skipped empty) or skipped.
  // A written one is diagnosed; with --fail-on at once, and one flagged
  // with a flag of it is reported on the console, and true is returned: it
  // fails the run. Otherwise its points are copied and it is diagnosed
  // beside the run.
  bool Add(DataSetRecord record, const double *x, const double *y,
           Console &console);

  // Waits for every diagnosis, then writes the report and the summary, each
  // to a temporary file renamed over its target. False, with a message,
  // when one could not be written.
  bool Write(Console &console);

private:
  // Data sets handed over together, with copies of their points; handed
  // over once task.work is set.
  struct Batch {
    std::vector<DataSetRecord *> records;
    std::vector<double> x, y; // their points, one after another
    Workers::Task task;
  };

  void Complete(DataSetRecord &r, const double *x, const double *y) const;
  void HandOver();
  void WaitOldest();

  RunReportOptions options_;
  std::deque<DataSetRecord> records_; // stay in place while diagnosed
  std::deque<Batch> batches_;         // oldest first; the last may be filling
  uint64_t points_beside_ = 0;        // in the batches handed over
  size_t failed_fail_on_ = 0;
  std::optional<Workers> beside_; // last: its thread stops first
};

#endif
