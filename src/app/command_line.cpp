#include "command_line.h"

#include <algorithm>
#include <string_view>

namespace {

// "--name VALUE" or "--name=VALUE": true when arg is the option, with its
// value taken (from the next argument for the first form).
bool OptionValue(std::string_view arg, std::string_view name, int argc,
                 const char *const *argv, int &i, std::string_view &value,
                 bool &missing) {
  if (arg == name) {
    missing = i + 1 == argc;
    value = missing ? std::string_view() : std::string_view(argv[++i]);
    return true;
  }
  if (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
      arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

// The comma-separated flags of --fail-on; empty with the unknown one named.
bool ParseFlags(std::string_view list, FlagSet &flags, std::string &unknown) {
  for (size_t start = 0; start <= list.size();) {
    const size_t comma = std::min(list.find(',', start), list.size());
    const std::string_view name = list.substr(start, comma - start);
    Flag flag;
    if (!ParseFlag(name, flag)) {
      unknown = name;
      return false;
    }
    flags |= Bit(flag);
    start = comma + 1;
  }
  return true;
}

} // namespace

CommandLine ParseCommandLine(int argc, const char *const *argv) {
  CommandLine line;
  if (argc < 2) {
    line.action = CommandLine::Action::kUsage;
    return line;
  }
  auto fail = [&line](const std::string &why) {
    line.action = CommandLine::Action::kError;
    line.error = why;
    return line;
  };
  bool options_end = false;
  bool missing = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options_end || arg == "-" || arg.empty() || arg[0] != '-') {
      line.inputs.emplace_back(arg);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "--help" || arg == "-h") {
      line.action = CommandLine::Action::kHelp;
      return line;
    } else if (arg == "--version") {
      line.action = CommandLine::Action::kVersion;
      return line;
    } else if (arg == "--quiet" || arg == "-q") {
      line.quiet = true;
    } else if (arg == "--no-progress") {
      line.no_progress = true;
    } else if (std::string_view value;
               OptionValue(arg, "--report", argc, argv, i, value, missing) ||
               OptionValue(arg, "--json", argc, argv, i, value, missing)) {
      if (missing || value.empty()) {
        return fail("option '" + std::string(arg) + "' needs a file");
      }
      (arg[2] == 'r' ? line.report.report : line.report.json) = value;
    } else if (OptionValue(arg, "--fail-on", argc, argv, i, value, missing)) {
      std::string unknown;
      if (missing) {
        return fail("option '--fail-on' needs a list of flags");
      }
      if (!ParseFlags(value, line.report.fail_on, unknown)) {
        return fail("unknown flag '" + unknown + "' for --fail-on");
      }
    } else if (arg == "--method" || arg == "-m" ||
               arg.substr(0, 9) == "--method=" ||
               (arg.substr(0, 2) == "-m" && arg.size() > 2)) {
      std::string_view name;
      if (arg == "--method" || arg == "-m") {
        if (i + 1 == argc) {
          return fail("option '" + std::string(arg) + "' needs a method");
        }
        name = argv[++i];
      } else {
        name = arg.substr(arg[1] == 'm' ? 2 : 9);
      }
      if (!knotfit::ParseMethod(name, line.method)) {
        return fail("unknown method '" + std::string(name) +
                    "' (not-a-knot, natural, clamped[=D0,DN], periodic, "
                    "pchip, akima, makima, steffen)");
      }
    } else {
      return fail("unknown option '" + std::string(arg) + "'");
    }
  }
  if (line.inputs.empty()) {
    return fail("no input file");
  }
  return line;
}

void PrintUsage(std::FILE *to) {
  // The text of the first knotfit, kept byte for byte: scripts compare it.
  static const char *const kRows[] = {
      "\nusage : knotfit input_file\n",
      "\tInput_file is a textfile with x [tab] y entries that are \n",
      "\tnew line(\\n) terminated.\n",
      "\tAt the end of each data set the following token must be found\n",
      "\tNAME <outputfilename>\n",
      "\tThe data is required to be sorted from lowest to highest x in\n",
      "\tdescending order.\n",
      "\tNOTE: more than one data set can be written in an input file.\n\n",
      "\tAs a sample take a look at the file pdat in the maps directory.\n\n",
      "\tThe program assumes that the standard KEL path is available and\n",
      "\tthe subdirectories\n",
      "\t\tCS\n",
      "\t\tCS/plot\n",
      "\texist. This is not checked!\n\n",
  };
  for (const char *row : kRows) {
    std::fputs(row, to);
  }
}

void PrintHelp(std::FILE *to) {
  std::fputs(
      "Usage: knotfit [OPTION]... FILE...\n"
      "Fit an interpolating cubic spline to every data set in each FILE and\n"
      "write its coefficient table and plot file under the KEL path.\n"
      "\n"
      "Each FILE holds whitespace-separated 'x y' pairs; a pair\n"
      "'NAME <name>' closes a data set and names its files. x must increase\n"
      "strictly within a data set. FILE '-' is standard input; the files are\n"
      "read in order, each on its own.\n"
      "\n"
      "Options:\n"
      "  -m, --method=NAME  the interpolant: not-a-knot (default), natural,\n"
      "                     clamped, clamped=D0,DN (end slopes), periodic,\n"
      "                     pchip, akima, makima, steffen\n"
      "  -q, --quiet        print nothing on standard output (no echo of\n"
      "                     the pairs read, no trace of the tables written)\n"

      "      --no-progress  never show the progress line on standard error\n"
      "      --report=FILE  also write FILE, an HTML page of the run: an\n"
      "                     index of every data set, a plot of each fit,\n"
      "                     its flags in words\n"
      "      --json=FILE    also write every data set's flags and the run's\n"
      "                     totals to FILE as JSON\n"
      "      --fail-on=FLAG,...  a data set flagged so fails the run (status\n"
      "                     1; its files are still written)\n"
      "  -h, --help         show this help and exit\n"
      "      --version      show the version and licence and exit\n"
      "  --                 end of options: what follows are files\n"
      "\n"
      "Files written, for a data set named <name>:\n"
      "  $KEL/CS/<name>       the binary coefficient table (big-endian\n"
      "                       binary32: knot count, then x y a b c per knot)\n"
      "  $KEL/CS/plot/<name>  the spline sampled in 1/500 steps, as text\n"
      "Each file is written whole to a temporary file and renamed over the\n"
      "old one. CS and CS/plot must exist; knotfit creates no directories.\n"
      "\n"
      "Flags of a fit (--report, --json, --fail-on):\n"
      "  overshoot     where the data run one way, the curve swings past them\n"
      "                by more than 0.1% of the y range\n"
      "  not-monotone  the data are monotone, the curve turns back\n"
      "  binary32      the table's binary32 curve is more than 1e-6 of the y\n"
      "                range off the fit, a coefficient underflows, or knots\n"
      "                collapse\n"
      "  spacing       the largest knot gap is over 1000 times the smallest\n"
      "\n"
      "Environment:\n"
      "  TROV_KEL  the KEL path\n"
      "  HOME      when TROV_KEL is unset, the KEL path is $HOME/.TROV_KEL\n"
      "\n"
      "Exit status:\n"
      "  0    every data set was written\n"
      "  1    a data set was skipped or not completely written, input was\n"
      "       read but not written, a data set has a flag of --fail-on, the\n"
      "       report could not be written, or standard output failed\n"
      "  254  a plot file could not be created in CS/plot: the run ended\n"
      "  255  no input, a bad option, an input that cannot be read, a\n"
      "       table that cannot be created in CS, or out of memory\n"
      "\n"
      "Full documentation: man knotfit\n",
      to);
}
