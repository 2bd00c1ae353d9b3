// What a run keeps of each data set once it is done with, in input order:
// its counts, the names written so far and its record for the report.
#ifndef KNOTFIT_TALLY_H
#define KNOTFIT_TALLY_H

#include "console/console.h"
#include "data_set.h"
#include "outcome.h"
#include "parallel/workers.h"
#include "shard.h"

#include "knotfit_internal.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

class RunReport;
struct Run;

struct RunSummary {
  size_t written = 0;   // data sets whose table was written, all below
                        // included
  size_t unplotted = 0; // data sets whose table was written, not their plot
  size_t warned = 0;    // data sets written with a warning
  size_t skipped = 0;   // data sets skipped, or their table not written
  size_t flagged = 0;   // data sets written but flagged by --fail-on
  size_t failed = 0;    // what fails the run: skipped data sets, tables
                        // without their plot file, input read but never
                        // written, warnings that fail
  uint64_t points = 0;
  int end_status = 0; // 255 or 254 when an outcome ended the run
  RunSummary &operator+=(const RunSummary &other);
};

// The closing line of a run that skipped or warned: "knotfit: 9997 data sets
// written, 3 skipped, 1 written without its plot file, 2 written with
// warnings, 1 failed --fail-on" (counts of 0 after the first left out).
std::string SummaryLine(const RunSummary &summary);

// The data sets a run has written, by the file they went to: a later one of
// the same name replaces the earlier files, and the user hears of it.
class WrittenNames {
public:
  // Records that name was written from place ("input:12"); returns the
  // place of the data set it replaces, or an empty string.
  std::string Replaces(std::string_view name, const std::string &place);

private:
  std::unordered_map<std::string, std::string> places_;
};

// One input as the reading loops see it.
struct InputSettings {
  std::string shown;               // how messages name it: its path, or "-"
  bool strict = false;             // a warning fails the run
  WrittenNames *written = nullptr; // the run's, across its inputs
  Workers *workers = nullptr;      // -j: they parse long data sets' points
  knotfit::detail::MeasuredRules measured{}; // --sort, --ties, --missing
  RunReport *report = nullptr;               // --report, --json: the run's
  DataSetNumbers *numbers = nullptr;         // the run's, across its inputs
};

// One input's data sets as they are done with.
class Tally {
public:
  explicit Tally(const InputSettings &input) : input_(input) {}

  // Records the data set for the report, where there is one (a flag of
  // --fail-on then fails it), and counts it: a written one that replaces
  // the files of an earlier one of its name says so. An outcome that ends
  // the run is kept in summary().end_status.
  void Add(const DataSet &set, DataSetOutcome outcome, const Run &run);

  RunSummary &summary() { return summary_; }
  bool ended() const { return summary_.end_status != 0; }

private:
  const InputSettings &input_;
  RunSummary summary_;
};

#endif
