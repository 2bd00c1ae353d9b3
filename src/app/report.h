// Messages about a run, in one style:
//   knotfit: data set 'cube': x not increasing at point 7 (2.5 after 3);
//   skipped
#ifndef KNOTFIT_REPORT_H
#define KNOTFIT_REPORT_H

#include "console.h"

#include "knotfit_internal.h"

#include <string>

// The text between quotes in a message: every name, path and token.
using knotfit::detail::Quoted;

// "knotfit: data set '<name>': <problem>; <consequence>"
void ReportDataSet(Console &console, const char *name,
                   const std::string &problem, const char *consequence);

#endif
