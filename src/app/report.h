// Messages about a run, in one style:
//   knotfit: data set 'cube': x not increasing at point 7 (2.5 after 3);
//   skipped
#ifndef KNOTFIT_REPORT_H
#define KNOTFIT_REPORT_H

#include "console.h"

#include <string>
#include <string_view>

// The text between quotes in a message: control bytes, quotes and
// backslashes escaped as in C, so that one message stays one line.
std::string Quoted(std::string_view text);

// "knotfit: data set '<name>': <problem>; <consequence>"
void ReportDataSet(Console &console, const char *name,
                   const std::string &problem, const char *consequence);

#endif
