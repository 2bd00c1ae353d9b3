// The command line: knotfit [OPTION]... FILE...
#ifndef KNOTFIT_COMMAND_LINE_H
#define KNOTFIT_COMMAND_LINE_H

#include "fit/table_choice.h"
#include "input/csv_reader.h"
#include "report/run_report.h"
#include "shard.h"

#include "knotfit/method.hpp"
#include "knotfit_internal.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct CommandLine {
  enum class Action {
    kRun,
    kUsage,
    kHelp,
    kVersion,
    kError
  } action = Action::kRun;
  std::string error; // for kError: what was wrong, one line
  bool quiet = false;
  bool no_progress = false;
  bool strict = false; // a warning fails the run
  knotfit::MethodChoice method;
  TableChoice table;  // --table
  unsigned jobs = 1;  // threads that fit and format; 0: the usable cores
  std::string kel;    // the KEL path, over the environment; empty: not given
  bool mkdir = false; // create missing directories under the KEL path
  bool csv = false;   // every input is one data set in columns
  std::string name;   // with csv: the data set's name (standard input)
  CsvOptions csv_options;
  // --sort, --ties, --missing: points as measured made a data set
  knotfit::detail::MeasuredRules measured;
  // --tolerance: each table with the fewest knots found within the bound
  std::optional<knotfit::detail::Tolerance> tolerance;
  bool verbose = false;                 // a line per data set on standard error
  knotfit::detail::Smoothing smoothing; // --lambda, for -m smooth
  RunReportOptions report;              // --report, --json, --fail-on
  ShardChoice shard;                    // --shard=K/N
  std::vector<std::string> inputs;      // "-" is standard input
};

// Reads the arguments after the program name. No argument at all asks for
// the usage text; "--" ends the options; "-" is an input, standard input.
CommandLine ParseCommandLine(int argc, const char *const *argv);

// The usage text printed when knotfit is run without an argument.
void PrintUsage(std::FILE *to);

// The --help text.
void PrintHelp(std::FILE *to);

#endif
