// knotfit-eval [-d|--derivative] TABLE [X ...]: a coefficient table evaluated
// at the given abscissas, or at those of standard input when none is given,
// one "x S(x) [S'(x)]" line each.
// Exit status: 0 when every abscissa was evaluated and printed; 1 for a
// malformed table, a bad number (the others are still printed), a read error
// on standard input, a write error on standard output, or bad arguments.
#include <knotfit/table.hpp>

#include "knotfit_internal.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char kUsage[] =
    "usage: knotfit-eval [-d|--derivative] TABLE [X ...]\n"
    "Evaluates the coefficient table TABLE (a file knotfit wrote under CS/)\n"
    "at every X, or at the whitespace-separated numbers of standard input\n"
    "when no X is given, and prints \"x S(x)\" per line, 17 digits each.\n"
    "  -d, --derivative  add S'(x) as a third column\n"
    "      --help        print this text\n"
    "      --version     print the version\n";

// Where the lines go; remembers the first write error.
class Output {
public:
  bool ok() const { return error_ == 0 && !failed_; }
  void Line(double x, double y) { Check(std::printf("%.17g %.17g\n", x, y)); }
  void Line(double x, double y, double dy) {
    Check(std::printf("%.17g %.17g %.17g\n", x, y, dy));
  }
  // Flushes and reports a failure; true when everything was written.
  bool Finish() {
    errno = 0;
    Check(std::fflush(stdout) == 0 ? 0 : -1);
    if (ok()) {
      return true;
    }
    std::fprintf(stderr, "knotfit-eval: write error on standard output%s%s\n",
                 error_ != 0 ? ": " : "",
                 error_ != 0 ? std::strerror(error_) : "");
    return false;
  }

private:
  void Check(int status) {
    if (status < 0 && ok()) {
      failed_ = true;
      error_ = errno;
    }
  }
  bool failed_ = false;
  int error_ = 0;
};

// Evaluates the table at the number token reads as (all of it, as strtod
// reads numbers). False, with a message, when it is not a finite number.
bool Evaluate(const knotfit::Table &table, const std::string &token,
              bool derivative, Output &out) {
  char *end = nullptr;
  const double x = std::strtod(token.c_str(), &end);
  if (token.empty() || end != token.c_str() + token.size() ||
      !std::isfinite(x)) {
    std::fprintf(stderr, "knotfit-eval: '%s' is not a finite number\n",
                 knotfit::detail::Quoted(token).c_str());
    return false;
  }
  if (derivative) {
    out.Line(x, table.value(x), table.derivative(x));
  } else {
    out.Line(x, table.value(x));
  }
  return true;
}

// The next whitespace-separated token of in; false at the end of the input.
bool NextToken(std::FILE *in, std::string &token) {
  token.clear();
  for (int ch = std::getc(in); ch != EOF; ch = std::getc(in)) {
    if (!std::isspace(ch)) {
      token.push_back(static_cast<char>(ch));
    } else if (!token.empty()) {
      return true;
    }
  }
  return !token.empty();
}

int Run(const knotfit::Table &table, const std::vector<std::string> &xs,
        bool derivative) {
  Output out;
  bool all_good = true;
  if (!xs.empty()) {
    for (std::size_t i = 0; i < xs.size() && out.ok(); ++i) {
      all_good = Evaluate(table, xs[i], derivative, out) && all_good;
    }
  } else {
    std::string token;
    while (out.ok() && NextToken(stdin, token)) {
      all_good = Evaluate(table, token, derivative, out) && all_good;
    }
    if (std::ferror(stdin)) {
      std::fprintf(stderr, "knotfit-eval: error reading standard input: %s\n",
                   std::strerror(errno));
      all_good = false;
    }
  }
  return out.Finish() && all_good ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
  // A reader that leaves early (knotfit-eval t < xs | head) ends it quietly.
  std::signal(SIGPIPE, SIG_DFL);
  bool derivative = false;
  bool options = true; // until "--"
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "-d" || arg == "--derivative")) {
      derivative = true;
    } else if (options && (arg == "--help" || arg == "--version")) {
      if (arg == "--help") {
        std::fputs(kUsage, stdout);
      } else {
        std::printf("knotfit-eval %s\n", KNOTFIT_VERSION);
      }
      return Output().Finish() ? 0 : 1;
    } else if (options && arg.size() > 2 && arg.substr(0, 2) == "--") {
      std::fprintf(stderr, "knotfit-eval: unknown option '%s'\n%s",
                   knotfit::detail::Quoted(arg).c_str(), kUsage);
      return 1;
    } else {
      positional.emplace_back(arg);
    }
  }
  if (positional.empty()) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  try {
    const knotfit::Table table = knotfit::read_table_file(positional[0]);
    positional.erase(positional.begin());
    return Run(table, positional, derivative);
  } catch (const knotfit::Error &e) {
    // The message names the table's path as given.
    std::fprintf(stderr, "knotfit-eval: %s\n",
                 knotfit::detail::Quoted(e.what()).c_str());
    return 1;
  }
}
