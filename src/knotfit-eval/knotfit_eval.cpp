// knotfit-eval [OPTION]... TABLE [X ...]: a coefficient table evaluated at
// the given abscissas, or at those of standard input when none is given, one
// "x S(x) [S'(x)] [S''(x)]" line each; or its integral, or its inverse.
// Exit status: 0 when every result was computed and printed; 1 for a
// malformed table, a bad number (the others are still printed), a read error
// on standard input, a write error on standard output, or bad arguments.
#include <knotfit/table.hpp>

#include "knotfit_internal.h"
#include "option_table.h"
#include "standard_output.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Options {
  bool derivative = false;
  bool second = false;
  bool csv = false;
  knotfit::Extrapolation rule = knotfit::Extrapolation::kClamp;
  std::vector<std::string> integral; // A and B, when asked
  std::optional<std::string> inverse;
  std::vector<std::string> positional; // TABLE [X ...]
};

// Where the lines go; remembers the first write error.
class Output {
public:
  explicit Output(bool csv = false) : separator_(csv ? ',' : ' ') {}
  bool ok() const { return !failed_; }
  void Line(const std::vector<double> &values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) {
        Check(std::putchar(separator_) == EOF ? -1 : 0);
      }
      Check(std::printf("%.17g", values[i]));
    }
    Check(std::putchar('\n') == EOF ? -1 : 0);
  }
  void Header(const std::vector<const char *> &names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      Check(std::printf("%s%s", i == 0 ? "" : ",", names[i]));
    }
    Check(std::putchar('\n') == EOF ? -1 : 0);
  }
  // Closes standard output and reports a failure; true when everything
  // was written.
  bool Finish() const { return CloseStandardOutput("knotfit-eval", error_); }

private:
  void Check(int status) {
    if (status < 0 && ok()) {
      failed_ = true;
      error_ = errno;
    }
  }
  char separator_;
  bool failed_ = false;
  int error_ = 0;
};

// The number all of token reads as, as strtod reads numbers (infinities
// and NaNs too), or nothing.
std::optional<double> WholeNumber(const std::string &token) {
  char *end = nullptr;
  const double x = std::strtod(token.c_str(), &end);
  if (token.empty() || end != token.c_str() + token.size()) {
    return std::nullopt;
  }
  return x;
}

// The number token reads as, or nothing, with a message, when it is not a
// finite number.
std::optional<double> Number(const std::string &token) {
  const std::optional<double> x = WholeNumber(token);
  if (!x || !std::isfinite(*x)) {
    std::fprintf(stderr, "knotfit-eval: '%s' is not a finite number\n",
                 knotfit::detail::Quoted(token).c_str());
    return std::nullopt;
  }
  return x;
}

bool Evaluate(const knotfit::Table &table, const std::string &token,
              const Options &o, Output &out) {
  const std::optional<double> x = Number(token);
  if (!x) {
    return false;
  }
  std::vector<double> line = {*x, table.value(*x, o.rule)};
  if (o.derivative) {
    line.push_back(table.derivative(*x, o.rule));
  }
  if (o.second) {
    line.push_back(table.second_derivative(*x, o.rule));
  }
  out.Line(line);
  return true;
}

// The next whitespace-separated token of in; false at the end of the input
// and at a read error, whose errno error keeps: the token it cut is none of
// the input's, and reading on would skip what the failed read lost.
bool NextToken(std::FILE *in, std::string &token, int &error) {
  token.clear();
  for (int ch = std::getc(in); ch != EOF; ch = std::getc(in)) {
    if (!std::isspace(ch)) {
      token.push_back(static_cast<char>(ch));
    } else if (!token.empty()) {
      return true;
    }
  }
  if (std::ferror(in)) {
    error = errno != 0 ? errno : EIO;
    return false;
  }
  return !token.empty();
}

// The integral or the inverse, one result each.
bool Query(const knotfit::Table &table, const Options &o, Output &out) {
  if (!o.integral.empty()) {
    const std::optional<double> a = Number(o.integral[0]);
    const std::optional<double> b = Number(o.integral[1]);
    if (!a || !b) {
      return false;
    }
    if (o.csv) {
      out.Header({"integral"});
    }
    out.Line({table.integral(*a, *b, o.rule)});
    return true;
  }
  const std::optional<double> v = Number(*o.inverse);
  if (!v) {
    return false;
  }
  if (o.csv) {
    out.Header({"x"});
  }
  for (const double r : table.inverse(*v)) {
    out.Line({r});
  }
  return true;
}

int Run(const knotfit::Table &table, const Options &o) {
  Output out(o.csv);
  bool all_good = true;
  const std::vector<std::string> xs(o.positional.begin() + 1,
                                    o.positional.end());
  if (!o.integral.empty() || o.inverse) {
    all_good = Query(table, o, out);
  } else {
    if (o.csv) {
      std::vector<const char *> names = {"x", "value"};
      if (o.derivative) {
        names.push_back("derivative");
      }
      if (o.second) {
        names.push_back("second_derivative");
      }
      out.Header(names);
    }
    for (std::size_t i = 0; i < xs.size() && out.ok(); ++i) {
      all_good = Evaluate(table, xs[i], o, out) && all_good;
    }
    std::string token;
    int error = 0;
    errno = 0;
    while (xs.empty() && out.ok() && NextToken(stdin, token, error)) {
      all_good = Evaluate(table, token, o, out) && all_good;
      errno = 0;
    }
    if (error != 0) {
      std::fprintf(stderr, "knotfit-eval: error reading standard input: %s\n",
                   std::strerror(error));
      all_good = false;
    }
  }
  return out.Finish() && all_good ? 0 : 1;
}

// An argument that is an option: "-" followed by anything but a number or
// its start. "-2.5", "-.5" and "-inf" are abscissas (the last one refused
// as not finite, as "inf" is), and so is "-2x" (refused as not a number).
bool IsOption(std::string_view arg) {
  return arg.size() > 1 && arg[0] == '-' &&
         !std::isdigit(static_cast<unsigned char>(arg[1])) && arg[1] != '.' &&
         !WholeNumber(std::string(arg));
}

std::string Extrapolate(Options &o, Values v) {
  if (!knotfit::ParseExtrapolation(v[0], o.rule)) {
    return "unknown extrapolation '" + knotfit::detail::Quoted(v[0]) + "' (" +
           knotfit::detail::ExtrapolationList() + ")";
  }
  return {};
}

const Option<Options> kOptions[] = {
    {"--derivative", 'd', nullptr, nullptr, Switch<&Options::derivative>,
     "add S'(x) as a column"},
    {"--second-derivative", 's', nullptr, nullptr, Switch<&Options::second>,
     "add S''(x) as a column"},
    {"--extrapolate", 0, "MODE", "a value", Extrapolate,
     "beyond the knots: clamp (the end ordinates,\n"
     "the default), linear, cubic or nan"},
    {"--integral", 0, "A B", "two values",
     [](Options &o, Values v) {
       o.integral.assign(v.begin(), v.end());
       return std::string();
     },
     "print the integral of S from A to B instead"},
    {"--inverse", 0, "V", "a value", Keep<&Options::inverse>,
     "print every x of the knot range where\n"
     "S(x) = V instead, in increasing order"},
    {"--csv", 0, nullptr, nullptr, Switch<&Options::csv>,
     "comma-separated, with a header row"},
    kHelpRow<Options>,
    kVersionRow<Options>,
};

// What is wrong with a command line read without a fault; empty if nothing.
std::string Conflict(const Options &o) {
  const bool query = !o.integral.empty() || o.inverse;
  if (o.positional.empty()) {
    return "no table";
  }
  if ((!o.integral.empty() && o.inverse) ||
      (query && (o.derivative || o.second || o.positional.size() > 1))) {
    return "--integral and --inverse go alone, without X, -d, -s or each "
           "other";
  }
  return {};
}

const Program<Options> kProgram{
    "knotfit-eval",
    "usage: knotfit-eval [OPTION]... TABLE [X ...]\n"
    "Evaluates the coefficient table TABLE (a file knotfit wrote under "
    "CS/)\n"
    "at every X, or at the whitespace-separated numbers of standard input\n"
    "when no X is given, and prints \"x S(x)\" per line, 17 digits each.\n",
    kOptions,
    {27, ' '},
    &Options::positional,
    Conflict,
    [](std::string_view arg) { return !IsOption(arg); }};

} // namespace

int main(int argc, char **argv) {
  // A reader that leaves early (knotfit-eval t < xs | head) ends it quietly.
  std::signal(SIGPIPE, SIG_DFL);
  Options o;
  if (const std::optional<int> status =
          ReadCommandLine(kProgram, argc, argv, o)) {
    return *status;
  }
  try {
    return Run(knotfit::read_table_file(o.positional[0]), o);
  } catch (const knotfit::Error &e) {
    // The message names the table's path as given.
    std::fprintf(stderr, "knotfit-eval: %s\n",
                 knotfit::detail::Quoted(e.what()).c_str());
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "knotfit-eval: %s: out of memory\n",
                 knotfit::detail::Quoted(o.positional[0]).c_str());
  }
  return 1;
}
