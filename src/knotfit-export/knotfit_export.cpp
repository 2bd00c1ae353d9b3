// knotfit-export [OPTION]... TABLE...: coefficient tables as C source (for
// firmware without a file system), JSON or CSV on standard output, with the
// largest difference of what was exported from each table on standard error.
// Exit status: 0 when everything was written; 1 for a bad table or argument,
// a difference beyond --max-error (nothing is written then), or a write
// error.
#include "c_source.h"
#include "fixed_point.h"
#include "knotfit_internal.h"

#include <knotfit/table.h>
#include <knotfit/table.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using knotfit::detail::JsonString;
using knotfit::detail::Quoted;
using knotfit::detail::ShortBinary32;

const char kUsage[] =
    "usage: knotfit-export [OPTION]... TABLE...\n"
    "Writes the coefficient tables TABLE (files knotfit wrote under CS/) to\n"
    "standard output as C source, JSON or CSV, and reports on standard\n"
    "error the largest difference of what was written from each table.\n"
    "      --format FORMAT  c (a C99 header, the default), json (one object\n"
    "                       a line) or csv (one table)\n"
    "      --type TYPE      for c: float (the default), double, i32 or i16\n"
    "                       (fixed point)\n"
    "      --symbol NAME    for c, one table: NAME instead of the file name\n"
    "      --max-error E    fail when a difference exceeds E times the y "
    "range\n"
    "  -h, --help           print this text\n"
    "      --version        print the version\n";

struct Options {
  std::string format = "c";
  std::string type = "float";
  std::optional<std::string> symbol;
  std::optional<double> max_error;
  std::vector<std::string> tables;
};

using Exported = ExportedTable;

const char *const kFields[5] = {"x", "y", "a", "b", "c"};

std::string BaseName(const std::string &path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsIdentifier(std::string_view s) {
  return !s.empty() && std::isalpha(static_cast<unsigned char>(s[0])) &&
         std::all_of(s.begin(), s.end(), [](char ch) {
           return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_';
         });
}

// A C identifier from a file name, unlike every one in taken.
std::string SymbolFor(const std::string &name,
                      const std::vector<std::string> &taken) {
  std::string base;
  for (const char ch : name) {
    base += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  }
  if (!IsIdentifier(base)) {
    base = "table_" + base;
  }
  std::string symbol = base;
  for (int i = 2; std::count(taken.begin(), taken.end(), symbol) > 0; ++i) {
    symbol = base + "_" + std::to_string(i);
  }
  return symbol;
}

std::string Json(const Exported &e) {
  std::string out = "{\"name\": " + JsonString(e.name) +
                    ", \"n\": " + std::to_string(e.table.size());
  const std::vector<float> *columns[5] = {
      &e.table.x(), &e.table.y(), &e.table.a(), &e.table.b(), &e.table.c()};
  for (int f = 0; f < 5; ++f) {
    out += std::string(", \"") + kFields[f] + "\": [";
    for (std::size_t k = 0; k < columns[f]->size(); ++k) {
      out += (k > 0 ? ", " : "") + ShortBinary32((*columns[f])[k]);
    }
    out += "]";
  }
  return out + "}\n";
}

std::string Csv(const Exported &e) {
  const knotfit::Table &t = e.table;
  std::string out = "x,y,a,b,c\n";
  for (std::size_t k = 0; k < t.size(); ++k) {
    out += ShortBinary32(t.x()[k]) + "," + ShortBinary32(t.y()[k]) + "," +
           ShortBinary32(t.a()[k]) + "," + ShortBinary32(t.b()[k]) + "," +
           ShortBinary32(t.c()[k]) + "\n";
  }
  return out;
}

// What the exported form gives at x, computed as its code computes it.
double ExportedValue(const Exported &e, const std::string &type, double x) {
  const knotfit::Table &t = e.table;
  if (e.fixed) {
    return std::ldexp(
        static_cast<double>(Evaluate(*e.fixed, FixedArgument(*e.fixed, x))),
        -e.fixed->value_frac());
  }
  if (type == "float") {
    return knotfit_table_valuef(
        static_cast<float>(x), static_cast<int32_t>(t.size()), t.x().data(),
        t.y().data(), t.a().data(), t.b().data(), t.c().data());
  }
  return t.value(x); // double, and the exact binary32 texts of JSON and CSV
}

// Compares the exported form with the table at every knot and plot
// abscissa, reports the largest difference; false beyond --max-error.
bool Report(const Exported &e, const Options &o) {
  const knotfit::Table &t = e.table;
  std::vector<double> xs(t.x().begin(), t.x().end());
  const double first = xs.front(), last = xs.back();
  const auto step =
      static_cast<double>(static_cast<float>((last - first) / 500.0));
  for (double x = first; x <= last && (x == first || step > 0); x += step) {
    xs.push_back(x);
    if (x + step == x) {
      break;
    }
  }
  double worst = 0, worst_at = first;
  for (const double x : xs) {
    const double d = std::fabs(
        ExportedValue(e, o.format == "c" ? o.type : "double", x) - t.value(x));
    if (d > worst) {
      worst = d;
      worst_at = x;
    }
  }
  const auto [low, high] = std::minmax_element(t.y().begin(), t.y().end());
  const double range = static_cast<double>(*high) - *low;
  const double relative = worst == 0 ? 0.0 : worst / range;
  const std::string how = o.format != "c" ? "the exact binary32 texts"
                          : e.fixed       ? o.type + " fixed point"
                                          : o.type + " arithmetic";
  std::fprintf(stderr,
               "knotfit-export: %s: largest difference %.17g at x = %.17g, "
               "%.17g of the y range (%s)\n",
               Quoted(e.path).c_str(), worst, worst_at, relative, how.c_str());
  if (o.max_error && relative > *o.max_error) {
    std::fprintf(stderr,
                 "knotfit-export: %s: difference %.17g of the y range "
                 "exceeds --max-error %.17g\n",
                 Quoted(e.path).c_str(), relative, *o.max_error);
    return false;
  }
  return true;
}

enum class Parsed { kRun, kHelp, kVersion, kError };

Parsed ParseArguments(int argc, char **argv, Options &o) {
  auto fail = [](const std::string &why) {
    std::fprintf(stderr, "knotfit-export: %s\n%s", why.c_str(), kUsage);
    return Parsed::kError;
  };
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const std::string_view name = arg.substr(0, arg.find('='));
    const bool valued = name == "--format" || name == "--type" ||
                        name == "--symbol" || name == "--max-error";
    if (!options || arg.size() < 2 || arg[0] != '-') {
      o.tables.emplace_back(arg);
    } else if (arg == "--") {
      options = false;
    } else if (arg == "-h" || arg == "--help") {
      return Parsed::kHelp;
    } else if (arg == "--version") {
      return Parsed::kVersion;
    } else if (!valued) {
      return fail("unknown option '" + Quoted(arg) + "'");
    } else {
      std::string value;
      if (name.size() < arg.size()) {
        value = arg.substr(name.size() + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return fail("option '" + Quoted(arg) + "' needs a value");
      }
      if (name == "--format") {
        o.format = value;
      } else if (name == "--type") {
        o.type = value;
      } else if (name == "--symbol") {
        o.symbol = value;
      } else {
        char *end = nullptr;
        const double e = knotfit::detail::StrtodC(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !(e >= 0) || std::isinf(e)) {
          return fail("--max-error '" + Quoted(value) +
                      "' is not a number >= 0");
        }
        o.max_error = e;
      }
    }
  }
  const std::vector<std::string> formats = {"c", "json", "csv"};
  const std::vector<std::string> types = {"float", "double", "i32", "i16"};
  if (std::count(formats.begin(), formats.end(), o.format) == 0) {
    return fail("unknown format '" + Quoted(o.format) + "' (c, json, csv)");
  }
  if (std::count(types.begin(), types.end(), o.type) == 0) {
    return fail("unknown type '" + Quoted(o.type) +
                "' (float, double, i32, i16)");
  }
  if (o.tables.empty()) {
    return fail("no table");
  }
  if (o.format != "c" && (o.type != "float" || o.symbol)) {
    return fail("--type and --symbol are for --format c");
  }
  if ((o.symbol || o.format == "csv") && o.tables.size() > 1) {
    return fail(std::string(o.symbol ? "--symbol" : "--format csv") +
                " takes one table");
  }
  if (o.symbol && !IsIdentifier(*o.symbol)) {
    return fail("symbol '" + Quoted(*o.symbol) + "' is not a C identifier");
  }
  return Parsed::kRun;
}

int Run(const Options &o) {
  std::vector<Exported> all;
  std::vector<std::string> symbols;
  for (const std::string &path : o.tables) {
    Exported e{path, BaseName(path), "", knotfit::read_table_file(path), {}};
    e.symbol = o.symbol ? *o.symbol : SymbolFor(e.name, symbols);
    symbols.push_back(e.symbol);
    if (o.type == "i32" || o.type == "i16") {
      try {
        e.fixed = Quantize(e.table, o.type == "i16" ? 16 : 32);
      } catch (const knotfit::Error &error) {
        throw knotfit::Error(path + ": " + error.what());
      }
    }
    all.push_back(std::move(e));
  }
  bool within = true;
  for (const Exported &e : all) {
    within = Report(e, o) && within;
  }
  if (!within) {
    return 1;
  }
  std::string out;
  if (o.format == "c") {
    out = CHeader(all, o.type);
  }
  for (const Exported &e : all) {
    out += o.format == "json" ? Json(e) : o.format == "csv" ? Csv(e) : "";
  }
  errno = 0;
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() ||
      std::fflush(stdout) != 0) {
    std::fprintf(stderr, "knotfit-export: write error on standard output: %s\n",
                 std::strerror(errno));
    return 1;
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  Options o;
  switch (ParseArguments(argc, argv, o)) {
  case Parsed::kError:
    return 1;
  case Parsed::kHelp:
    std::fputs(kUsage, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  case Parsed::kVersion:
    std::printf("knotfit-export %s\n", KNOTFIT_VERSION);
    return std::fflush(stdout) == 0 ? 0 : 1;
  case Parsed::kRun:
    break;
  }
  try {
    return Run(o);
  } catch (const knotfit::Error &e) {
    // The message names the table's path as given.
    std::fprintf(stderr, "knotfit-export: %s\n", Quoted(e.what()).c_str());
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "knotfit-export: out of memory\n");
  }
  return 1;
}
