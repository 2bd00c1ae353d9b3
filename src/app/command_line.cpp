#include "command_line.h"

#include "knotfit_internal.h"

#include <charconv>
#include <string_view>

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
    } else if (arg == "--method" || arg == "-m" ||
               arg.substr(0, 9) == "--method=" ||
               (arg.substr(0, 2) == "-m" && arg.size() > 2)) {
      std::string_view name;
      if (arg == "--method" || arg == "-m") {
        if (i + 1 == argc) {
          return fail("option '" + knotfit::detail::Quoted(arg) +
                      "' needs a method");
        }
        name = argv[++i];
      } else {
        name = arg.substr(arg[1] == 'm' ? 2 : 9);
      }
      if (!knotfit::ParseMethod(name, line.method)) {
        return fail("unknown method '" + knotfit::detail::Quoted(name) +
                    "' (not-a-knot, natural, clamped[=D0,DN], periodic, "
                    "pchip, akima, makima, steffen)");
      }
    } else if (arg == "--jobs" || arg == "-j" ||
               arg.substr(0, 7) == "--jobs=" ||
               (arg.substr(0, 2) == "-j" && arg.size() > 2)) {
      std::string_view count;
      if (arg == "--jobs" || arg == "-j") {
        if (i + 1 == argc) {
          return fail("option '" + knotfit::detail::Quoted(arg) +
                      "' needs a number of threads");
        }
        count = argv[++i];
      } else {
        count = arg.substr(arg[1] == 'j' ? 2 : 7);
      }
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
      "  -j, --jobs=N       fit and format on N threads (default 1; 0: as\n"
      "                     many as the cores knotfit may use); the output\n"
      "                     is the same, byte for byte\n"
      "  -q, --quiet        print nothing on standard output (no echo of\n"
      "                     the pairs read, no trace of the tables written)\n"
      "      --no-progress  never show the progress line on standard error\n"
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
      "Environment:\n"
      "  TROV_KEL  the KEL path\n"
      "  HOME      when TROV_KEL is unset, the KEL path is $HOME/.TROV_KEL\n"
      "\n"
      "Exit status:\n"
      "  0    every data set was written\n"
      "  1    a data set was skipped or not completely written, input was\n"
      "       read but not written, or standard output failed\n"
      "  254  a plot file could not be created in CS/plot: the run ended\n"
      "  255  no input, a bad option, an input that cannot be read, a\n"
      "       table that cannot be created in CS, or out of memory\n"
      "\n"
      "Full documentation: man knotfit\n",
      to);
}
