// The command line: knotfit [OPTION]... FILE...
#ifndef KNOTFIT_APP_COMMAND_LINE_H
#define KNOTFIT_APP_COMMAND_LINE_H

#include "run_report.h"

#include "knotfit/method.hpp"

#include <cstdio>
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
  knotfit::MethodChoice method;
  RunReportOptions report;         // --report, --json, --fail-on
  std::vector<std::string> inputs; // "-" is standard input
};

// Reads the arguments after the program name. No argument at all asks for
// the usage text; "--" ends the options; "-" is an input, standard input.
CommandLine ParseCommandLine(int argc, const char *const *argv);

// The usage text printed when knotfit is run without an argument.
void PrintUsage(std::FILE *to);

// The --help text.
void PrintHelp(std::FILE *to);

#endif
