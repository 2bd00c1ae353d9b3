#include "tally.h"

#include "console/messages.h"
#include "fit/generate.h"
#include "kel_path.h"
#include "report/run_report.h"

#include <algorithm>
#include <utility>

RunSummary &RunSummary::operator+=(const RunSummary &other) {
  written += other.written;
  unplotted += other.unplotted;
  warned += other.warned;
  skipped += other.skipped;
  flagged += other.flagged;
  failed += other.failed;
  points += other.points;
  end_status = std::max(end_status, other.end_status);
  return *this;
}

std::string SummaryLine(const RunSummary &summary) {
  std::string line =
      "knotfit: " + Counted(summary.written, "data set", "data sets") +
      " written";
  const std::pair<size_t, const char *> parts[] = {
      {summary.skipped, "skipped"},
      {summary.unplotted, summary.unplotted == 1
                              ? "written without its plot file"
                              : "written without their plot files"},
      {summary.warned, "written with warnings"},
      {summary.flagged, "failed --fail-on"},
  };
  for (const auto &[count, what] : parts) {
    if (count > 0) {
      line += ", " + std::to_string(count) + " " + what;
    }
  }
  return line;
}

std::string WrittenNames::Replaces(std::string_view name,
                                   const std::string &place) {
  std::string &seen = places_[FileName(name)];
  std::string before = seen;
  seen = place;
  return before;
}

namespace {

// The data set's record for the report: what it was, what became of it and
// why, with a written fit's knots.
DataSetRecord Record(const DataSet &set, DataSetOutcome &outcome,
                     const Run &run) {
  DataSetRecord r;
  r.name = std::string(set.name);
  r.number = set.number;
  r.input = set.place.input;
  // Where its message points: a point's line, for a point's problem.
  r.line = outcome.line != 0 ? outcome.line : set.place.line;
  r.points = static_cast<size_t>(set.n);
  if (set.measured) {
    r.measured = set.measured->counts;
  }
  r.method = run.method;
  const bool written = outcome.files == Outcome::kWritten ||
                       outcome.files == Outcome::kUnplotted;
  if (run.table.given && written) {
    r.table = outcome.table;
  }
  r.knots = outcome.knots;
  r.smoothing = std::move(outcome.smoothing);
  r.tolerance = std::move(outcome.tolerance);
  r.fit = std::move(outcome.fit);
  if (outcome.files == Outcome::kFailed) {
    r.skipped = outcome.reason.empty() ? "not written" : outcome.reason;
  } else if (outcome.files == Outcome::kUnplotted) {
    r.plot = outcome.reason.empty() ? "not written" : outcome.reason;
  }
  return r;
}

} // namespace

void Tally::Add(const DataSet &set, DataSetOutcome outcome, const Run &run) {
  Console &console = run.console;
  if (EndsRun(outcome.files)) {
    summary_.end_status = StatusOf(outcome.files);
    return;
  }
  if (input_.report != nullptr) {
    // A flag of --fail-on fails the run, the files written.
    outcome.flagged =
        input_.report->Add(Record(set, outcome, run), set.x, set.y, console);
  }
  if (outcome.files == Outcome::kFailed) {
    ++summary_.skipped;
    ++summary_.failed;
    return;
  }
  bool warned = set.warned;
  const std::string before =
      input_.written != nullptr
          ? input_.written->Replaces(set.name, PlaceName(set.place))
          : "";
  if (!before.empty()) {
    console.Message("knotfit: " + Place(set.place) + "data set '" +
                    Quoted(set.name) + "' replaces the one of " + before);
    warned = true;
  }
  // A missing plot file, knots that binary32 cannot tell apart and the
  // flags of --fail-on fail the run; the warnings about tokens and names
  // only with --strict.
  const bool unplotted = outcome.files == Outcome::kUnplotted;
  warned = warned || outcome.warned;
  ++summary_.written;
  summary_.unplotted += unplotted ? 1 : 0;
  summary_.warned += warned ? 1 : 0;
  summary_.flagged += outcome.flagged ? 1 : 0;
  summary_.failed += unplotted || outcome.warned || outcome.flagged ||
                             (warned && input_.strict)
                         ? 1
                         : 0;
}
