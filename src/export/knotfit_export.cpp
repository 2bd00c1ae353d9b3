// knotfit-export [OPTION]... TABLE...: coefficient tables as C source (for
// firmware without a file system), JSON or CSV on standard output, with the
// largest difference of what was exported from each table on standard error.
// Exit status: 0 when everything was written; 1 for a bad table or argument,
// a difference beyond --max-error (nothing is written then), or a write
// error.
#include "c_numbers.h"
#include "fixed_point.h"

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

struct Exported {
  std::string path, name, symbol;
  knotfit::Table table;
  std::optional<FixedTable> fixed;
};

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

// The shortest text that reads back as v, as a C literal when suffix is
// given ("f" for float, "" for double), else as JSON and CSV want it.
template <class T>
std::string Literal(T v, std::optional<const char *> suffix = std::nullopt) {
  std::string text = knotfit::ShortestC(v);
  if (suffix && text.find_first_of(".e") == std::string::npos) {
    text += ".0";
  }
  return suffix ? text + *suffix : text;
}

std::string JsonString(const std::string &s) {
  std::string out = "\"";
  for (const char ch : s) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string Json(const Exported &e) {
  std::string out = "{\"name\": " + JsonString(e.name) +
                    ", \"n\": " + std::to_string(e.table.size());
  const std::vector<float> *columns[5] = {
      &e.table.x(), &e.table.y(), &e.table.a(), &e.table.b(), &e.table.c()};
  for (int f = 0; f < 5; ++f) {
    out += std::string(", \"") + kFields[f] + "\": [";
    for (std::size_t k = 0; k < columns[f]->size(); ++k) {
      out += (k > 0 ? ", " : "") + Literal((*columns[f])[k]);
    }
    out += "]";
  }
  return out + "}\n";
}

std::string Csv(const Exported &e) {
  const knotfit::Table &t = e.table;
  std::string out = "x,y,a,b,c\n";
  for (std::size_t k = 0; k < t.size(); ++k) {
    out += Literal(t.x()[k]) + "," + Literal(t.y()[k]) + "," +
           Literal(t.a()[k]) + "," + Literal(t.b()[k]) + "," +
           Literal(t.c()[k]) + "\n";
  }
  return out;
}

// The C of one table: its arrays, constants and evaluation.
std::string CSource(const Exported &e, const std::string &type) {
  const std::string &s = e.symbol;
  const std::size_t n = e.table.size();
  const bool fixed = e.fixed.has_value();
  const std::string narrow =
      fixed ? (type == "i16" ? "int16_t" : "int32_t") : type;
  const std::string wide = type == "i16" ? "int32_t" : "int64_t";
  std::string out =
      "/* " + e.name + " */\nenum { " + s + "_n = " + std::to_string(n);
  if (fixed) {
    for (int f = 0; f < 5; ++f) {
      out += ", " + s + "_" + kFields[f] +
             "_frac_bits = " + std::to_string(e.fixed->frac[f]);
    }
    out += ", " + s +
           "_value_frac_bits = " + std::to_string(e.fixed->value_frac());
  }
  out += " };\n";
  const std::vector<float> *columns[5] = {
      &e.table.x(), &e.table.y(), &e.table.a(), &e.table.b(), &e.table.c()};
  for (int f = 0; f < 5; ++f) {
    out += "static const " + narrow + " " + s + "_" + kFields[f] + "[" +
           std::to_string(n) + "] = {";
    for (std::size_t k = 0; k < n; ++k) {
      const float v = (*columns[f])[k];
      std::string text;
      if (fixed) {
        const int64_t q = e.fixed->q[f][k];
        // -2^31 written as a sum: 2147483648 alone is no int.
        text = q == INT32_MIN ? "(-2147483647 - 1)" : std::to_string(q);
      } else {
        text = type == "float" ? Literal(v, "f") : Literal(double{v}, "");
      }
      out += (k % 4 == 0 ? "\n    " : " ") + text + (k + 1 < n ? "," : "");
    }
    out += "};\n";
  }
  out += "static inline " + narrow + " " + s + "_value(" + narrow +
         " x) {\n"
         "  KNOTFIT_EXPORT_EXACT_\n"
         "  int32_t lo = 0, hi = " +
         s + "_n - 1;\n";
  auto field = [&s](const char *f, const char *k) {
    return s + "_" + f + "[" + k + "]";
  };
  if (fixed) {
    const FixedTable &q = *e.fixed;
    const std::string shift = "knotfit_export_shift" + wide.substr(3, 2) + "_(";
    const std::string to_value = std::to_string(q.frac[1] - q.value_frac());
    out += "  " + wide + " u, h;\n  if (x <= " + field("x", "0") +
           ") {\n    return (" + narrow + ")" + shift + field("y", "0") + ", " +
           to_value + ");\n  }\n  if (x >= " + field("x", "hi") +
           ") {\n    return (" + narrow + ")" + shift + field("y", "hi") +
           ", " + to_value + ");\n  }\n";
    out += "  while (hi - lo > 1) {\n    const int32_t mid = lo + (hi - lo) / "
           "2;\n    if (" +
           field("x", "mid") +
           " < x) {\n      lo = mid;\n    } else {\n      hi = mid;\n    }\n"
           "  }\n  u = (" +
           wide + ")x - " + field("x", "lo") + ";\n  h = " + field("c", "lo") +
           ";\n";
    const char *coefficients[3] = {"b", "a", "y"};
    const int columns_of[3] = {3, 2, 1};
    int scale = q.frac[4];
    for (int j = 0; j < 3; ++j) {
      out += "  h = " + shift + field(coefficients[j], "lo") + ", " +
             std::to_string(q.frac[columns_of[j]] - q.steps[j]) + ") + " +
             shift + "h * u, " +
             std::to_string(scale + q.frac[0] - q.steps[j]) + ");\n";
      scale = q.steps[j];
    }
    return out + "  return (" + narrow + ")h;\n}\n\n";
  }
  out += "  " + narrow + " u;\n  if (!(x == x)) {\n    return x;\n  }\n" +
         "  if (x <= " + field("x", "0") + ") {\n    return " +
         field("y", "0") + ";\n  }\n  if (x >= " + field("x", "hi") +
         ") {\n    return " + field("y", "hi") + ";\n  }\n" +
         "  while (hi - lo > 1) {\n    const int32_t mid = lo + (hi - lo) / "
         "2;\n    if (" +
         field("x", "mid") +
         " < x) {\n      lo = mid;\n    } else {\n      hi = mid;\n    }\n"
         "  }\n  u = x - " +
         field("x", "lo") + ";\n  return ((" + field("a", "lo") + " * u + " +
         field("y", "lo") + ") + (" + field("b", "lo") + " * u) * u) +\n" +
         "         ((" + field("c", "lo") + " * u) * u) * u;\n}\n\n";
  return out;
}

// The header around the tables' C: what every table's code needs, once.
std::string CHeader(const std::vector<Exported> &all, const Options &o) {
  std::string names, guard = "KNOTFIT_EXPORT_";
  for (const Exported &e : all) {
    names += (names.empty() ? "" : ", ") + e.name;
  }
  for (const char ch : all.front().symbol) {
    guard += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  std::string out =
      "/* Generated by knotfit-export " KNOTFIT_VERSION " (--type " + o.type +
      ") from the knotfit tables " + names +
      ".\n"
      " * NAME_value(x) is the spline at x: the end ordinates beyond the\n"
      " * knots, an interior knot evaluated on the segment that ends there.\n";
  if (o.type == "i32" || o.type == "i16") {
    out += " * Fixed point: x is the abscissa times 2^NAME_x_frac_bits, "
           "rounded; the\n * value is S times 2^NAME_value_frac_bits. Needs "
           "arithmetic right shifts\n * of negative numbers (every usual "
           "compiler). */\n";
  } else {
    out += " * Bit for bit as knotfit_table_value" +
           std::string(o.type == "float" ? "f" : "") +
           " of knotfit/table.h computes it. */\n";
  }
  out += "#ifndef " + guard + "_H\n#define " + guard +
         "_H\n\n#include <stdint.h>\n\n";
  if (o.type == "i32" || o.type == "i16") {
    const std::string w = o.type == "i16" ? "32" : "64";
    const std::string top = o.type == "i16" ? "31" : "63";
    out +=
        "#ifndef KNOTFIT_EXPORT_SHIFT" + w + "_\n#define KNOTFIT_EXPORT_SHIFT" +
        w + "_\n/* v times 2^-r, floored. */\nstatic inline int" + w +
        "_t knotfit_export_shift" + w + "_(int" + w +
        "_t v, int r) {\n  if (r >= " + top +
        ") {\n    return v < 0 ? -1 : 0;\n  }\n  return r >= 0 ? v >> r : v * "
        "((int" +
        w + "_t)1 << -r);\n}\n#endif\n#define KNOTFIT_EXPORT_EXACT_\n\n";
  } else {
    out += "#if defined(__FAST_MATH__)\n#error \"-ffast-math changes these "
           "results\"\n#endif\n#if defined(__FLT_EVAL_METHOD__) && "
           "__FLT_EVAL_METHOD__ != 0\n#error \"these results need "
           "FLT_EVAL_METHOD 0\"\n#endif\n"
           "/* No multiply-adds fused into one rounding. */\n"
           "#if defined(__GNUC__) && !defined(__clang__)\n#pragma GCC "
           "push_options\n#pragma GCC optimize(\"fp-contract=off\")\n#endif\n"
           "#if defined(__clang__)\n#define KNOTFIT_EXPORT_EXACT_ "
           "_Pragma(\"STDC FP_CONTRACT OFF\")\n#else\n#define "
           "KNOTFIT_EXPORT_EXACT_\n#endif\n\n";
  }
  for (const Exported &e : all) {
    out += CSource(e, o.type);
  }
  out += "#undef KNOTFIT_EXPORT_EXACT_\n";
  if (o.type == "float" || o.type == "double") {
    out += "#if defined(__GNUC__) && !defined(__clang__)\n#pragma GCC "
           "pop_options\n#endif\n";
  }
  return out + "\n#endif\n";
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
               e.path.c_str(), worst, worst_at, relative, how.c_str());
  if (o.max_error && relative > *o.max_error) {
    std::fprintf(stderr,
                 "knotfit-export: %s: difference %.17g of the y range "
                 "exceeds --max-error %.17g\n",
                 e.path.c_str(), relative, *o.max_error);
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
      return fail("unknown option '" + std::string(arg) + "'");
    } else {
      std::string value;
      if (name.size() < arg.size()) {
        value = arg.substr(name.size() + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return fail("option '" + std::string(arg) + "' needs a value");
      }
      if (name == "--format") {
        o.format = value;
      } else if (name == "--type") {
        o.type = value;
      } else if (name == "--symbol") {
        o.symbol = value;
      } else {
        char *end = nullptr;
        const double e = knotfit::StrtodC(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !(e >= 0) || std::isinf(e)) {
          return fail("--max-error '" + value + "' is not a number >= 0");
        }
        o.max_error = e;
      }
    }
  }
  const std::vector<std::string> formats = {"c", "json", "csv"};
  const std::vector<std::string> types = {"float", "double", "i32", "i16"};
  if (std::count(formats.begin(), formats.end(), o.format) == 0) {
    return fail("unknown format '" + o.format + "' (c, json, csv)");
  }
  if (std::count(types.begin(), types.end(), o.type) == 0) {
    return fail("unknown type '" + o.type + "' (float, double, i32, i16)");
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
    return fail("symbol '" + *o.symbol + "' is not a C identifier");
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
    out = CHeader(all, o);
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
    std::fprintf(stderr, "knotfit-export: %s\n", e.what());
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "knotfit-export: out of memory\n");
  }
  return 1;
}
