// Messages about a run that go to standard error, in one style:
//   knotfit: data set 'cube': x not increasing at point 7 (2.5 after 3);
//   skipped
#ifndef KNOTFIT_REPORT_H
#define KNOTFIT_REPORT_H

#include <string>

// "knotfit: data set '<name>': <problem>; <consequence>"
void ReportDataSet(const char *name, const std::string &problem,
                   const char *consequence);

// Says on standard error that standard output failed, with the reason.
void ReportStandardOutputError(int error);

// Flushes standard output; false when a write to it failed, now or earlier.
// Only the first failure is reported: it sets the stream's error flag.
bool FlushStandardOutput();

#endif
