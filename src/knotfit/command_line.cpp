#include "command_line.h"

#include "knotfit/request.hpp"
#include "knotfit_internal.h"
#include "option_table.h"
#include "parallel/workers.h"

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

// --lambda's value: "gcv", "cv", "df:K" (K above 2) or lambda itself, a
// finite decimal number at least 0. False for anything else.
bool ParseSmoothing(std::string_view text, knotfit::detail::Smoothing &how) {
  using Rule = knotfit::detail::Smoothing::Rule;
  if (text == "gcv" || text == "cv") {
    how = {text == "cv" ? Rule::kCv : Rule::kGcv, 0.0};
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

using Line = CommandLine;
using knotfit::detail::Quoted;

std::string Needs(std::string_view option, std::string_view what) {
  return "option '" + std::string(option) + "' needs " + std::string(what);
}

// A value that may not be empty, kept in to.
std::string KeepNonEmpty(std::string &to, Values v, std::string_view option,
                         std::string_view what) {
  to = v[0];
  return to.empty() ? Needs(option, what) : "";
}

std::string Method(Line &line, Values v) {
  if (!knotfit::ParseMethod(v[0], line.method)) {
    return "unknown method '" + Quoted(v[0]) + "' (" +
           knotfit::detail::MethodList() + ")";
  }
  return {};
}

std::string Lambda(Line &line, Values v) {
  return ParseSmoothing(v[0], line.smoothing)
             ? ""
             : Refused("--lambda",
                       "gcv, cv, df:K (K above 2) or a number at least 0",
                       v[0]);
}

std::string Weights(Line &line, Values v) {
  return KeepNonEmpty(line.csv_options.weights, v, "--weights", "a column");
}

std::string Form(Line &line, Values v) {
  line.table.given = true;
  line.table.automatic = v[0] == "auto";
  if (!line.table.automatic &&
      !knotfit::ParseTableForm(v[0], line.table.form)) {
    return Refused("--table", "classic, offset, double or auto", v[0]);
  }
  return {};
}

std::string Jobs(Line &line, Values v) {
  const std::string_view count = v[0];
  const auto [end, ec] =
      std::from_chars(count.data(), count.data() + count.size(), line.jobs);
  if (ec != std::errc() || end != count.data() + count.size() ||
      line.jobs > kMostThreads) {
    return "bad number of threads '" + Quoted(count) +
           "' (0 for the usable cores, or 1 to " +
           std::to_string(kMostThreads) + ")";
  }
  return {};
}

std::string Report(Line &line, Values v) {
  return KeepNonEmpty(line.report.report, v, "--report", "a file");
}

std::string Json(Line &line, Values v) {
  return KeepNonEmpty(line.report.json, v, "--json", "a file");
}

std::string FailOn(Line &line, Values v) {
  std::string unknown;
  if (!ParseFlags(v[0], line.report.fail_on, unknown)) {
    return "unknown flag '" + Quoted(unknown) + "' for --fail-on";
  }
  return {};
}

std::string Shard(Line &line, Values v) {
  if (!ParseShard(v[0], line.shard)) {
    return "bad shard '" + Quoted(v[0]) + "' (K/N: integers, 0 <= K < N)";
  }
  line.report.shard = line.shard;
  return {};
}

std::string Kel(Line &line, Values v) {
  return KeepNonEmpty(line.kel, v, "--kel", "a directory");
}

std::string Name(Line &line, Values v) {
  return KeepNonEmpty(line.name, v, "--name", "a name");
}

// A tab also as itself, as a shell passes $'\t'. Any other character would
// split numbers ('.', 'e', '-', a digit).
std::string Separator(Line &line, Values v) {
  const std::string_view text = v[0];
  if (text != "," && text != ";" && text != "tab" && text != "\t") {
    return Refused("--separator", "',', ';' or 'tab'", text);
  }
  line.csv_options.separator = text == "tab" ? '\t' : text[0];
  return {};
}

// X,Y, or X,Y1,Y2,...: one data set per Y column.
std::string Columns(Line &line, Values v) {
  const std::string_view text = v[0];
  std::vector<std::string> columns;
  for (size_t start = 0; start <= text.size();) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view column = text.substr(start, comma - start);
    const bool number = column.find_first_not_of("0123456789") == column.npos;
    if (column.empty() || (number && (column.size() > 6 ||
                                      std::stoi(std::string(column)) == 0))) {
      columns.clear();
      break;
    }
    columns.emplace_back(column);
    start = comma + 1;
  }
  if (columns.size() < 2) {
    return Refused("--columns",
                   "X,Y or X,Y1,Y2,...: column numbers (from 1) or header "
                   "names",
                   text);
  }
  line.csv_options.columns = std::move(columns);
  return {};
}

std::string Sort(Line &line, Values) {
  line.measured.sort = true;
  return {};
}

std::string Ties(Line &line, Values v) {
  return knotfit::detail::ParseTies(v[0], line.measured.ties)
             ? ""
             : Refused("--ties", "mean, first or last", v[0]);
}

std::string Missing(Line &line, Values v) {
  if (v[0] != "skip") {
    return Refused("--missing", "skip", v[0]);
  }
  line.measured.skip_missing = true;
  line.csv_options.skip_missing = true;
  return {};
}

std::string Tolerance(Line &line, Values v) {
  knotfit::detail::Tolerance tolerance;
  if (!knotfit::detail::ParseTolerance(v[0], tolerance)) {
    return Refused("--tolerance", "E or E% (a number above 0)", v[0]);
  }
  tolerance.relative = line.tolerance ? line.tolerance->relative : 0.0;
  line.tolerance = tolerance;
  return {};
}

// The rules between the method and the options that describe its fit, in
// the options' words; of --lambda and --weights, the last given is named.
std::string RequestProblem(const Line &line, const Words &words) {
  knotfit::Request request;
  request.method = line.method;
  request.smoothing = line.smoothing;
  request.tolerance = line.tolerance;
  request.form = line.table.form;
  request.automatic_form = line.table.automatic;
  request.measured = line.measured;
  std::vector<knotfit::Parameter> given;
  for (const std::string_view name : words.given) {
    if (name == "--lambda") {
      given.push_back(knotfit::Parameter::kLambda);
    } else if (name == "--weights") {
      given.push_back(knotfit::Parameter::kWeights);
    }
  }
  return knotfit::RequestProblem(request, given, knotfit::Naming::kOption);
}

std::string RelativeTolerance(Line &line, Values v) {
  double relative = 0.0;
  if (!knotfit::detail::ParseRelativeTolerance(v[0], relative)) {
    return Refused("--relative-tolerance", "a number at least 0", v[0]);
  }
  if (!line.tolerance) {
    line.tolerance.emplace(); // E = 0
  }
  line.tolerance->relative = relative;
  return {};
}

// The options in the order --help lists them.
const Option<Line> kOptions[] = {
    {"--method", 'm', "NAME", "a method", Method, nullptr, Parsed::kRun,
     knotfit::detail::MethodHelp},
    {"--lambda", 0, "L", "gcv, cv, df:K (K above 2) or a number at least 0",
     Lambda,
     "with -m smooth: how much it smooths: gcv (default,\n"
     "by generalised cross-validation), cv (by\n"
     "leave-one-out cross-validation), df:K (K degrees of\n"
     "freedom, 2 < K <= the distinct x) or lambda itself,\n"
     "a number >= 0 (0 interpolates)"},
    {"--weights", 0, "COL", "a column", Weights,
     "with -m smooth and --csv: each point's weight, a\n"
     "number above 0, from column COL (number or name)"},
    {"--table", 0, "FORM", "classic, offset, double or auto", Form,
     "the tables' form: classic (default; absolute x\n"
     "and y in binary32), offset (binary32 about a\n"
     "binary64 origin: for time stamps), double\n"
     "(binary64), or auto: for each data set the first\n"
     "of these that the binary32 flag does not flag\n"
     "(with --tolerance: whose table meets E)"},
    {"--jobs", 'j', "N", "a number of threads", Jobs,
     "fit and format on N threads (default 1; 0: as\n"
     "many as the cores knotfit may use); the output\n"
     "is the same, byte for byte"},
    {"--tolerance", 0, "E", "E or E% (a number above 0)", Tolerance,
     "each table with as few knots as found such that\n"
     "the table as stored is within E of every point\n"
     "(E%: of the data set's y range) and between two\n"
     "points within E of the band they span with the\n"
     "fit through every point; not-a-knot, pchip,\n"
     "akima, makima, steffen, smooth (its table within\n"
     "E of the smoothing fit)"},
    {"--relative-tolerance", 0, "R", "a number at least 0", RelativeTolerance,
     "each point within E + R|y| (E = 0\n"
     "without --tolerance), between two points\n"
     "within E + R min(|y0|, |y1|) of their band"},
    {"--verbose", 0, nullptr, nullptr, Switch<&Line::verbose>,
     "one line per data set on standard error: its\n"
     "points and knots (with --tolerance, the error)"},
    {"--quiet", 'q', nullptr, nullptr, Switch<&Line::quiet>,
     "print nothing on standard output (no echo of\n"
     "the pairs read, no trace of the tables written)"},
    {"--no-progress", 0, nullptr, nullptr, Switch<&Line::no_progress>,
     "never show the progress line on standard error"},
    {"--report", 0, "FILE", "a file", Report,
     "also write FILE, an HTML page of the run: an\n"
     "index of every data set, a plot of each fit,\n"
     "its flags in words"},
    {"--json", 0, "FILE", "a file", Json,
     "also write every data set's flags and the run's\n"
     "totals to FILE as JSON"},
    {"--fail-on", 0, "FLAG,...", "a list of flags", FailOn,
     "a data set flagged so fails the run (status\n"
     "1; its files are still written)"},
    {"--shard", 0, "K/N", "K/N", Shard,
     "fit and write shard K of N alone (0 <= K < N):\n"
     "the data sets whose name first comes as data\n"
     "set K, K+N, K+2N, ... (from 0, of all FILEs);\n"
     "the N shards write what one run writes, and\n"
     "knotfit-merge joins their --json and --report"},
    {"--strict", 0, nullptr, nullptr, Switch<&Line::strict>,
     "a warning fails the run (status 1; the files are\n"
     "still written)"},
    {"--kel", 0, "DIR", "a value", Kel,
     "the KEL path for this run, over TROV_KEL and HOME"},
    {"--mkdir", 0, nullptr, nullptr, Switch<&Line::mkdir>,
     "create the KEL directory, CS, CS/plot and the\n"
     "directories of a name when they are missing"},
    {"--csv", 0, nullptr, nullptr, Switch<&Line::csv>,
     "read each FILE as one data set in columns, named\n"
     "after the file without directory and extension"},
    {"--name", 0, "NAME", "a value", Name,
     "with --csv: the data set's name (needed for '-')"},
    {"--separator", 0, "C", "a value", Separator,
     "with --csv: the field separator, ',', ';' or\n"
     "'tab' (default: the first found in line 1)"},
    {"--columns", 0, "X,Y", "a value", Columns,
     "with --csv: the columns of x and y, numbers\n"
     "from 1 or header names (default 1,2); X,Y1,Y2,...\n"
     "makes one data set per Y, named <base>.<column>"},
    {"--sort", 0, nullptr, nullptr, Sort,
     "sort each data set's points by x (stable)"},
    {"--ties", 0, "RULE", "mean, first or last", Ties,
     "merge points of equal x into one: its y the mean,\n"
     "the first or the last (RULE mean, first, last)"},
    {"--missing", 0, "skip", "skip", Missing,
     "drop points with a missing x or y (an empty CSV\n"
     "field; NA, N/A, NaN, null, None, ?, - in any case)"},
    {"--help", 'h', nullptr, nullptr, nullptr, "show this help and exit",
     Parsed::kHelp},
    {"--version", 0, nullptr, nullptr, nullptr,
     "show the version and licence and exit", Parsed::kVersion},
};

} // namespace

CommandLine ParseCommandLine(int argc, const char *const *argv) {
  CommandLine line;
  if (argc < 2) {
    line.action = CommandLine::Action::kUsage;
    return line;
  }
  const Words words = ReadOptions<Line>(argc, argv, kOptions, line);
  auto fail = [&line](const std::string &why) {
    line.action = CommandLine::Action::kError;
    line.error = why;
    return line;
  };
  switch (words.parsed) {
  case Parsed::kHelp:
    line.action = CommandLine::Action::kHelp;
    return line;
  case Parsed::kVersion:
    line.action = CommandLine::Action::kVersion;
    return line;
  case Parsed::kError:
    return fail(words.error);
  case Parsed::kRun:
    break;
  }
  line.inputs.assign(words.operands.begin(), words.operands.end());
  if (line.inputs.empty()) {
    return fail("no input file");
  }
  if (const std::string problem = RequestProblem(line, words);
      !problem.empty()) {
    return fail(problem);
  }
  const std::string_view csv_only =
      words.LastOf({"--weights", "--name", "--separator", "--columns"});
  if (!line.csv && !csv_only.empty()) {
    return fail(Needs(csv_only, "--csv"));
  }
  const bool name_given = !words.LastOf({"--name"}).empty();
  if (name_given && line.inputs.size() > 1) {
    return fail("option '--name' names the data set of one input only");
  }
  if (line.shard.given() && std::find(line.inputs.begin(), line.inputs.end(),
                                      "-") != line.inputs.end()) {
    return fail("option '--shard' does not read standard input ('-'): every "
                "shard reads the whole input");
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
      "Options:\n",
      to);
  PrintOptions<Line>(to, kOptions, {21, '='});
  std::fputs(
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
