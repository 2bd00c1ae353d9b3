// Messages about a run that go to standard error, in one style:
//   knotfit: data set 'cube': x not increasing at point 7 (2.5 after 3);
//   skipped
#ifndef KNOTFIT_REPORT_H
#define KNOTFIT_REPORT_H

#include "sink.h"

#include <string>
#include <string_view>

// The text between quotes in a message: control bytes, quotes and
// backslashes escaped as in C, so that one message stays one line.
std::string Quoted(std::string_view text);

// "knotfit: data set '<name>': <problem>; <consequence>"
void ReportDataSet(const char *name, const std::string &problem,
                   const char *consequence);

// Says on standard error that standard output failed, with the reason.
void ReportStandardOutputError(int error);

// Standard output as a sink: a write that fails is reported once, with its
// reason (a large chunk goes straight to the system, so the reason is known
// there and nowhere later).
Sink &StandardOutput();

// Flushes standard output; false when a write to it failed, now or earlier.
// Only the first failure is reported: it sets the stream's error flag.
bool FlushStandardOutput();

#endif
