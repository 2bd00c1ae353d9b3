// Messages about a run that go to standard error, in one style:
//   knotfit: data set 'cube': x not increasing at point 7 (2.5 after 3);
//   skipped
#ifndef KNOTFIT_REPORT_H
#define KNOTFIT_REPORT_H

#include <string>

// "knotfit: data set '<name>': <problem>; <consequence>"
void ReportDataSet(const char *name, const std::string &problem,
                   const char *consequence);

// The shortest text that reads back as v ("2.5", "1e+15", "inf").
std::string ShortNumber(double v);

// Flushes standard output. On a failed write (now or earlier) says so on
// standard error and returns false.
bool FlushStandardOutput();

#endif
