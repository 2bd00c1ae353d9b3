// Messages about a run, in one style:
//   knotfit: input:12: data set 'cube': x not increasing at point 7 (2.5
//   after 3); skipped
#ifndef KNOTFIT_CONSOLE_MESSAGES_H
#define KNOTFIT_CONSOLE_MESSAGES_H

#include "console/console.h"
#include "data_set.h"

#include "knotfit_internal.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The text between quotes in a message: every name, path and token.
using knotfit::detail::Quoted;

// Where a message points, as compilers say it: "<input>:<line>: ", or
// "<input>:<line>:<column>: " with a column; the input ("-" for standard
// input) escaped as Quoted does.
std::string Place(std::string_view input, uint64_t line, size_t column = 0);
std::string Place(const SourcePlace &at);
// The same place as a name, without the ": ": "<input>:<line>".
std::string PlaceName(const SourcePlace &at);

// The text as one word for a POSIX shell: in single quotes, a quote in it as
// '\''. Text with bytes that Quoted escapes goes in $'...' instead, escaped
// as Quoted escapes it, so that a message stays one line.
std::string ShellQuoted(std::string_view text);

// The fix for missing directories, "knotfit: create it with: mkdir -p
// '<dir>' (or run with --mkdir)"; empty for none.
std::string MkdirHint(const std::vector<std::string> &dirs);

// A count and its noun, singular for one: "1 data set", "0 data sets".
std::string Counted(uint64_t count, const char *one, const char *many);

// "knotfit: <place>data set '<name>': <problem>; <consequence>".
void PrintDataSetMessage(Console &console, std::string_view place,
                         std::string_view name, const std::string &problem,
                         const char *consequence);

// Whether a point refused as not finite holds a NaN that was read from
// "nan" or "NaN" (not "-nan"): a missing reading, most often.
inline bool ReadAsMissing(double x, double y) {
  return (x != x && !std::signbit(x)) || (y != y && !std::signbit(y));
}

// After a data set skipped for x not increasing, the line that names what
// would take such data: "knotfit: sort them with --sort, merge equal x with
// --ties mean", less what the run already does; after x decreasing (a
// smoothing fit, which merges equal x itself), "knotfit: sort them with
// --sort"; empty for any other problem.
std::string OrderHint(std::string_view problem,
                      const knotfit::detail::MeasuredRules &rules);

// The notes of a data set changed by --missing and --ties, placed as its
// whole-set messages are: "knotfit: <place>data set '<name>': 12 repeated x
// merged (mean), first at line 14".
void ReportMeasured(Console &console, std::string_view place,
                    std::string_view name,
                    const knotfit::detail::MeasuredCounts &counts,
                    uint64_t first_dropped_line, uint64_t first_merged_line,
                    const knotfit::detail::MeasuredRules &rules);

#endif
