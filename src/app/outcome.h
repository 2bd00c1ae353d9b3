// What became of a data set, from its NAME pair to its files: what the
// writers return, and what main turns into the exit status.
#ifndef KNOTFIT_APP_OUTCOME_H
#define KNOTFIT_APP_OUTCOME_H

enum class Outcome {
  kWritten,  // every file written
  kWarned,   // written, with a warning (knots binary32 cannot tell apart)
  kFlagged,  // written, but a diagnostic named by --fail-on flags it
  kFailed,   // skipped, or not completely written; the run goes on
  kNoTables, // CS itself cannot be used: the run ends, status 255
  kNoPlots,  // CS/plot itself cannot be used: the run ends, status 254
};

// Whether the run stops at once: no further data set, and no report of
// input left over.
inline bool EndsRun(Outcome o) {
  return o == Outcome::kNoTables || o == Outcome::kNoPlots;
}

// The exit status the outcome asks for: 0, 1 (warned or failed), 255, 254.
inline int StatusOf(Outcome o) {
  switch (o) {
  case Outcome::kWritten:
    return 0;
  case Outcome::kNoTables:
    return 255;
  case Outcome::kNoPlots:
    return 254;
  case Outcome::kWarned:
  case Outcome::kFlagged:
  case Outcome::kFailed:
    break;
  }
  return 1;
}

#endif
