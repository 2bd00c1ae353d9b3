// What --report, --json and --fail-on keep of a run: one record per data set
// (written or skipped) with its diagnostics, the HTML report and the JSON
// summary made from them at the end, and the data sets that fail the run.
#ifndef KNOTFIT_APP_RUN_REPORT_H
#define KNOTFIT_APP_RUN_REPORT_H

#include "console.h"
#include "diagnostics.h"

#include "knotfit/method.hpp"
#include "knotfit/spline.hpp"

#include <cstddef>
#include <cstdint>
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
  std::string name;
  std::string input; // as given on the command line, "-" standard input
  uint64_t line = 0; // of its NAME pair
  size_t points = 0;
  knotfit::MethodChoice method;
  double x_min = 0, x_max = 0, y_min = 0, y_max = 0; // when points > 0
  std::string skipped; // why it was not written; empty when it was
  Diagnosis diagnosis;
  // What its plot draws: a short fit itself; for a long one, the extremes
  // of S in each column, and of the table's curve where it differs.
  std::optional<knotfit::Spline> fit;
  Envelope curve, table;
};

struct RunReportOptions {
  std::string report; // the HTML file, empty for none
  std::string json;   // the JSON summary, empty for none
  FlagSet fail_on = 0;
  bool any() const { return !report.empty() || !json.empty() || fail_on != 0; }
};

class RunReport {
public:
  explicit RunReport(RunReportOptions options) : options_(std::move(options)) {}

  // A data set at its NAME pair, once written (skipped empty) or skipped.
  // A written one is diagnosed; one flagged with a flag of --fail-on is
  // reported on the console, and true is returned: it fails the run.
  bool Add(DataSetRecord record, const double *x, const double *y,
           Console &console);

  // Writes the report and the summary, each to a temporary file renamed
  // over its target. False, with a message, when one could not be written.
  bool Write(Console &console) const;

  size_t failed_fail_on() const { return failed_fail_on_; }
  const std::vector<DataSetRecord> &records() const { return records_; }

private:
  RunReportOptions options_;
  std::vector<DataSetRecord> records_;
  size_t failed_fail_on_ = 0;
};

#endif
