// What became of a data set, from its NAME pair to its files: what the
// writers return, and what main turns into the exit status.
#ifndef KNOTFIT_OUTCOME_H
#define KNOTFIT_OUTCOME_H

#include "knotfit/table.hpp"
#include "knotfit_internal.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// What became of a data set's files.
enum class Outcome {
  kWritten,   // both files written
  kUnplotted, // the table written, not its plot file; the run goes on
  kFailed,    // skipped, or its table not written; the run goes on
  kNoTables,  // CS itself cannot be used: the run ends, status 255
  kNoPlots,   // CS/plot itself cannot be used: the run ends, status 254
};

// Whether the run stops at once: no further data set, and no report of
// input left over.
inline bool EndsRun(Outcome o) {
  return o == Outcome::kNoTables || o == Outcome::kNoPlots;
}

// The exit status the outcome asks for: 0, 1 (not completely written),
// 255, 254.
inline int StatusOf(Outcome o) {
  switch (o) {
  case Outcome::kWritten:
    return 0;
  case Outcome::kNoTables:
    return 255;
  case Outcome::kNoPlots:
    return 254;
  case Outcome::kUnplotted:
  case Outcome::kFailed:
    break;
  }
  return 1;
}

// With --tolerance, what a data set's table reached: its knots, the bound
// in y's units, the largest error at the data and the x of its point, and
// how far the table strays from the fit through every point between them.
struct KnotsReached {
  uint64_t points = 0, knots = 0, bytes = 0;
  double e = 0.0, error = 0.0, at = 0.0, table_vs_fit = 0.0;
  double r = 0.0; // --relative-tolerance
  bool met = true;
};

// A data set's outcome with what else of it fails the run, each counted on
// its own: a data set may be written without its plot file, with a warning
// and flagged, all at once.
struct DataSetOutcome {
  Outcome files = Outcome::kFailed;
  // Why it was skipped (kFailed), or why its table went without its plot
  // file (kUnplotted), as its message said; a warning is no reason.
  std::string reason;
  // The line its skipping message names: its own place's, or a point's; 0
  // when it was not skipped.
  uint64_t line = 0;
  bool warned = false;  // its table cannot tell two knots apart, or does
                        // not meet --tolerance
  bool flagged = false; // a flag named by --fail-on flags it
  knotfit::TableForm table = knotfit::TableForm::kClassic; // its form
  std::optional<KnotsReached> knots; // with --tolerance, once fitted
  // A smoothing fit that was written: its knots and what it chose, for the
  // report. Null for an interpolant.
  std::shared_ptr<const knotfit::detail::SmoothingFit> smoothing;
  // With --tolerance, the table that was written, for the report.
  std::shared_ptr<const knotfit::detail::ToleranceFit> tolerance;
  // An interpolant's fit that was written, for the report, where the run
  // keeps it and it was held in double (a compact fit is not).
  std::shared_ptr<const knotfit::Spline> fit;
};

#endif
