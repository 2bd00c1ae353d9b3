#include "command_line.h"

#include "knotfit_internal.h"
#include "options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace {

// The flags of --report, --json and --fail-on, from their table: each
// name in a column of 14, its lines beside it.
void PrintFlags(std::FILE *to) {
  for (const FlagInfo &info : AllFlags()) {
    std::string lines = info.brief;
    for (size_t at = lines.find('\n'); at != lines.npos;
         at = lines.find('\n', at + 1)) {
      lines.insert(at + 1, 16, ' ');
    }
    std::fprintf(to, "  %-14s%s\n", info.name, lines.c_str());
  }
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

// --lambda's value: "gcv", "df:K" (K above 2) or lambda itself, a finite
// decimal number at least 0. False for anything else.
bool ParseSmoothing(std::string_view text, knotfit::detail::Smoothing &how) {
  using Rule = knotfit::detail::Smoothing::Rule;
  if (text == "gcv") {
    how = {Rule::kGcv, 0.0};
    return true;
  }
  const bool df = text.starts_with("df:");
  const std::string number(text.substr(df ? 3 : 0));
  // A plain decimal: strtod would also take blanks, a '+' and hexadecimal.
  if (number.empty() ||
      number.find_first_not_of("0123456789.eE+-") != std::string::npos ||
      number[0] == '+') {
    return false;
  }
  char *end = nullptr;
  const double value = knotfit::detail::StrtodC(number.c_str(), &end);
  if (end != number.c_str() + number.size() || !std::isfinite(value) ||
      !(df ? value > 2.0 : value >= 0.0)) {
    return false;
  }
  how = {df ? Rule::kDegreesOfFreedom : Rule::kLambda, value};
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
  bool name_given = false;
  std::string_view csv_only;    // an option that needs --csv
  std::string_view smooth_only; // an option that needs -m smooth
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
        return fail("option '" + knotfit::detail::Quoted(arg) +
                    "' needs a file");
      }
      (arg[2] == 'r' ? line.report.report : line.report.json) = value;
    } else if (OptionValue(arg, "--fail-on", argc, argv, i, value, missing)) {
      std::string unknown;
      if (missing) {
        return fail("option '--fail-on' needs a list of flags");
      }
      if (!ParseFlags(value, line.report.fail_on, unknown)) {
        return fail("unknown flag '" + knotfit::detail::Quoted(unknown) +
                    "' for --fail-on");
      }
    } else if (OptionValue(arg, "--table", argc, argv, i, value, missing)) {
      line.table.given = true;
      line.table.automatic = !missing && value == "auto";
      if (missing || (!line.table.automatic &&
                      !knotfit::ParseTableForm(value, line.table.form))) {
        return fail("option '--table' needs classic, offset, double or auto");
      }
    } else if (arg == "--sort") {
      line.measured.sort = true;
    } else if (OptionValue(arg, "--ties", argc, argv, i, value, missing)) {
      if (missing || !knotfit::detail::ParseTies(value, line.measured.ties)) {
        return fail("option '--ties' needs mean, first or last");
      }
    } else if (OptionValue(arg, "--missing", argc, argv, i, value, missing)) {
      if (missing || value != "skip") {
        return fail("option '--missing' needs skip");
      }
      line.measured.skip_missing = true;
      line.csv_options.skip_missing = true;
    } else if (OptionValue(arg, "--tolerance", argc, argv, i, value, missing)) {
      knotfit::detail::Tolerance tolerance;
      if (missing || !knotfit::detail::ParseTolerance(value, tolerance)) {
        return fail("option '--tolerance' needs E or E% (a number above 0)");
      }
      line.tolerance = tolerance;
    } else if (arg == "--verbose") {
      line.verbose = true;
    } else if (OptionValue(arg, "--lambda", argc, argv, i, value, missing)) {
      if (missing || !ParseSmoothing(value, line.smoothing)) {
        return fail("option '--lambda' needs gcv, df:K (K above 2) or a "
                    "number at least 0");
      }
      smooth_only = "--lambda";
    } else if (OptionValue(arg, "--weights", argc, argv, i, value, missing)) {
      if (missing || value.empty()) {
        return fail("option '--weights' needs a column");
      }
      line.csv_options.weights = value;
      smooth_only = "--weights";
      csv_only = "--weights";
    } else if (arg == "--strict") {
      line.strict = true;
    } else if (arg == "--mkdir") {
      line.mkdir = true;
    } else if (arg == "--csv") {
      line.csv = true;
    } else if (OptionValue(arg, "--kel", argc, argv, i, value, missing) ||
               OptionValue(arg, "--name", argc, argv, i, value, missing) ||
               OptionValue(arg, "--separator", argc, argv, i, value, missing) ||
               OptionValue(arg, "--columns", argc, argv, i, value, missing)) {
      const std::string option(OptionName(arg));
      if (missing) {
        return fail("option '" + option + "' needs a value");
      }
      const std::string_view text = value;
      if (option == "--kel") {
        if (text.empty()) {
          return fail("option '--kel' needs a directory");
        }
        line.kel = text;
        continue;
      }
      csv_only = arg;
      if (option == "--name") {
        if (text.empty()) {
          return fail("option '--name' needs a name");
        }
        line.name = text;
        name_given = true;
      } else if (option == "--separator") {
        // A tab also as itself, as a shell passes $'\t'. Any other
        // character would split numbers ('.', 'e', '-', a digit).
        if (text != "," && text != ";" && text != "tab" && text != "\t") {
          return fail("option '--separator' needs ',', ';' or 'tab'");
        }
        line.csv_options.separator = text == "tab" ? '\t' : text[0];
      } else {
        // X,Y, or X,Y1,Y2,...: one data set per Y column.
        std::vector<std::string> columns;
        for (size_t start = 0; start <= text.size();) {
          const size_t comma = std::min(text.find(',', start), text.size());
          const std::string_view column = text.substr(start, comma - start);
          const bool number =
              column.find_first_not_of("0123456789") == column.npos;
          if (column.empty() ||
              (number &&
               (column.size() > 6 || std::stoi(std::string(column)) == 0))) {
            columns.clear();
            break;
          }
          columns.emplace_back(column);
          start = comma + 1;
        }
        if (columns.size() < 2) {
          return fail("option '--columns' needs X,Y or X,Y1,Y2,...: column "
                      "numbers (from 1) or header names");
        }
        line.csv_options.columns = std::move(columns);
      }
    } else if (OptionValue(arg, "--method", argc, argv, i, value, missing,
                           'm')) {
      if (missing) {
        return fail("option '" + knotfit::detail::Quoted(arg) +
                    "' needs a method");
      }
      if (!knotfit::ParseMethod(value, line.method)) {
        return fail("unknown method '" + knotfit::detail::Quoted(value) +
                    "' (" + knotfit::detail::MethodList() + ")");
      }
    } else if (OptionValue(arg, "--jobs", argc, argv, i, value, missing, 'j')) {
      if (missing) {
        return fail("option '" + knotfit::detail::Quoted(arg) +
                    "' needs a number of threads");
      }
      const std::string_view count = value;
      const auto [end, ec] =
          std::from_chars(count.data(), count.data() + count.size(), line.jobs);
      if (ec != std::errc() || end != count.data() + count.size() ||
          line.jobs > 1024) {
        return fail("bad number of threads '" + knotfit::detail::Quoted(count) +
                    "' (0 for the usable cores, or 1 to 1024)");
      }
    } else {
      return fail("unknown option '" + knotfit::detail::Quoted(arg) + "'");
    }
  }
  if (line.inputs.empty()) {
    return fail("no input file");
  }
  if (line.tolerance && !knotfit::detail::TakesTolerance(line.method.method)) {
    return fail("option '--tolerance' takes the methods " +
                knotfit::detail::ToleranceMethods() + ", not " +
                knotfit::MethodName(line.method.method));
  }
  const bool smooths = knotfit::detail::InfoOf(line.method.method).smooths;
  if (!smooths && !smooth_only.empty()) {
    return fail("option '" + std::string(smooth_only) + "' needs -m smooth");
  }
  if (smooths && line.measured.ties != knotfit::detail::Ties::kKeep) {
    return fail("option '--ties' does not go with -m smooth, which merges "
                "equal x itself");
  }
  if (!line.csv && !csv_only.empty()) {
    return fail("option '" + std::string(OptionName(csv_only)) +
                "' needs --csv");
  }
  if (name_given && line.inputs.size() > 1) {
    return fail("option '--name' names the data set of one input only");
  }
  if (line.csv && !name_given &&
      std::find(line.inputs.begin(), line.inputs.end(), "-") !=
          line.inputs.end()) {
    return fail("standard input read with --csv needs --name NAME");
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
      "read in order, each on its own. A token that is not a number as a\n"
      "whole is read as C's atof reads it, with a warning. Messages say\n"
      "where: FILE:LINE:.\n"
      "\n"
      "Options:\n"
      "  -m, --method=NAME  the interpolant: not-a-knot (default), natural,\n"
      "                     clamped, clamped=D0,DN (end slopes), periodic,\n"
      "                     pchip, akima, makima, steffen; or smooth, the\n"
      "                     cubic smoothing spline, near the points, not\n"
      "                     through them (x may repeat, not decrease)\n"
      "      --lambda=L     with -m smooth: how much it smooths: gcv "
      "(default,\n"
      "                     by generalised cross-validation), df:K (K degrees\n"
      "                     of freedom, 2 < K <= the distinct x) or lambda\n"
      "                     itself, a number >= 0 (0 interpolates)\n"
      "      --weights=COL  with -m smooth and --csv: each point's weight, a\n"
      "                     number above 0, from column COL (number or name)\n"
      "      --table=FORM   the tables' form: classic (default; absolute x\n"
      "                     and y in binary32), offset (binary32 about a\n"
      "                     binary64 origin: for time stamps), double\n"
      "                     (binary64), or auto: for each data set the first\n"
      "                     of these that the binary32 flag does not flag\n"
      "  -j, --jobs=N       fit and format on N threads (default 1; 0: as\n"
      "                     many as the cores knotfit may use); the output\n"
      "                     is the same, byte for byte\n"
      "      --tolerance=E  each table with as few knots as found such that\n"
      "                     the table as stored is within E of every point\n"
      "                     (E%: of the data set's y range); not-a-knot,\n"
      "                     pchip, akima, makima, steffen\n"
      "      --verbose      one line per data set on standard error: its\n"
      "                     points and knots (with --tolerance, the error)\n"
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
      "      --strict       a warning fails the run (status 1; the files are\n"
      "                     still written)\n"
      "      --kel=DIR      the KEL path for this run, over TROV_KEL and HOME\n"
      "      --mkdir        create the KEL directory, CS, CS/plot and the\n"
      "                     directories of a name when they are missing\n"
      "      --csv          read each FILE as one data set in columns, named\n"
      "                     after the file without directory and extension\n"
      "      --name=NAME    with --csv: the data set's name (needed for '-')\n"
      "      --separator=C  with --csv: the field separator, ',', ';' or\n"
      "                     'tab' (default: the first found in line 1)\n"
      "      --columns=X,Y  with --csv: the columns of x and y, numbers\n"
      "                     from 1 or header names (default 1,2); X,Y1,Y2,...\n"
      "                     makes one data set per Y, named <base>.<column>\n"
      "      --sort         sort each data set's points by x (stable)\n"
      "      --ties=RULE    merge points of equal x into one: its y the mean,\n"
      "                     the first or the last (RULE mean, first, last)\n"
      "      --missing=skip drop points with a missing x or y (an empty CSV\n"
      "                     field; NA, N/A, NaN, null, None, ?, - in any "
      "case)\n"
      "  -h, --help         show this help and exit\n"
      "      --version      show the version and licence and exit\n"
      "  --                 end of options: what follows are files\n"
      "\n"
      "Lab data, repeated settings and a lost reading, fitted as measured:\n"
      "  printf '0 .012\\n0 .015\\n.5 .21\\n.5 NA\\n1 .398\\nNAME assay\\n' |\n"
      "    knotfit --ties=mean --missing=skip -\n"
      "Noisy readings smoothed, the amount chosen by cross-validation:\n"
      "  knotfit -m smooth --json=fit.json readings\n"
      "\n"
      "Files written, for a data set named <name>:\n"
      "  $KEL/CS/<name>       the binary coefficient table (big-endian\n"
      "                       binary32: knot count, then x y a b c per knot;\n"
      "                       --table=offset and double: a header first)\n"
      "  $KEL/CS/plot/<name>  the spline sampled in 1/500 steps, as text\n"
      "Each file is written whole to a temporary file and renamed over the\n"
      "old one. CS and CS/plot must exist, unless --mkdir is given.\n"
      "\n"
      "Flags of a fit (--report, --json, --fail-on):\n",
      to);
  PrintFlags(to);
  std::fputs(
      "\n"
      "Environment:\n"
      "  TROV_KEL  the KEL path, unless --kel is given\n"
      "  HOME      when TROV_KEL is unset, the KEL path is $HOME/.TROV_KEL\n"
      "\n"
      "Exit status:\n"
      "  0    every data set was written\n"
      "  1    a data set was skipped or not completely written, input was\n"
      "       read but not written, a table does not meet --tolerance, a\n"
      "       data set has a flag of --fail-on, the\n"
      "       report could not be written, standard output failed, or (with\n"
      "       --strict) a warning was given\n"
      "  254  a plot file could not be created in CS/plot: the run ended\n"
      "  255  no input, a bad option, an input that cannot be read, a\n"
      "       table that cannot be created in CS, or out of memory\n"
      "\n"
      "Full documentation: man knotfit\n",
      to);
}
