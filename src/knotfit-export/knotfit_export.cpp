// knotfit-export [OPTION]... TABLE...: coefficient tables as C source (for
// firmware without a file system), JSON or CSV on standard output, with a
// bound of the difference of what was exported from each table, and the
// largest sampled, on standard error.
// Exit status: 0 when everything was written; 1 for a bad table or argument,
// a bound beyond --max-error (nothing is written then), or a write
// error.
#include "c_source.h"
#include "cmsis_layout.h"
#include "error_bound.h"
#include "fixed_point.h"
#include "knotfit_internal.h"
#include "option_table.h"
#include "standard_output.h"

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
using knotfit::detail::ShortNumber;

struct Options {
  std::string format = "c";
  std::string type = "float";
  std::string layout = "knotfit";
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

// Sets e's fields, as stored, widened; and where floats, as the type float
// holds them: the double form's narrowed, which must stay finite.
void TakeFields(Exported &e, bool floats) {
  const knotfit::Table &t = e.table;
  const bool wide = t.form() == knotfit::TableForm::kDouble;
  const std::vector<float> *narrow[5] = {&t.x(), &t.y(), &t.a(), &t.b(),
                                         &t.c()};
  const std::vector<double> *doubles[5] = {&t.x64(), &t.y64(), &t.a64(),
                                           &t.b64(), &t.c64()};
  for (std::size_t f = 0; f < 5; ++f) {
    if (!wide) {
      e.fields[f].assign(narrow[f]->begin(), narrow[f]->end());
      if (floats) {
        e.floats[f] = *narrow[f];
      }
      continue;
    }
    e.fields[f] = *doubles[f];
    for (std::size_t k = 0; floats && k < t.size(); ++k) {
      const double v = e.fields[f][k];
      if (!knotfit::detail::FitsBinary32(v)) {
        throw knotfit::Error(std::string(kFields[f]) + " of knot " +
                             std::to_string(k) + " (" + ShortNumber(v) +
                             ") overflows float");
      }
      e.floats[f].push_back(knotfit::detail::Narrow(v));
    }
  }
}

// The shortest text of field f of knot k: of its binary32 value, or of its
// double in the double form.
std::string Text(const Exported &e, std::size_t f, std::size_t k) {
  const double v = e.fields[f][k];
  return e.table.form() == knotfit::TableForm::kDouble
             ? ShortNumber(v)
             : ShortBinary32(static_cast<float>(v));
}

std::string Json(const Exported &e) {
  std::string out = "{\"name\": " + JsonString(e.name) +
                    ", \"n\": " + std::to_string(e.table.size());
  if (e.origin()) {
    out += std::string(", \"form\": \"") +
           knotfit::TableFormName(e.table.form()) +
           "\", \"x0\": " + ShortNumber(e.table.x0()) +
           ", \"y0\": " + ShortNumber(e.table.y0());
  }
  for (std::size_t f = 0; f < 5; ++f) {
    out += std::string(", \"") + kFields[f] + "\": [";
    for (std::size_t k = 0; k < e.table.size(); ++k) {
      if (k > 0) {
        out += ", ";
      }
      out += Text(e, f, k);
    }
    out += "]";
  }
  return out + "}\n";
}

// Every row of a table about an origin ends in that origin.
std::string Csv(const Exported &e) {
  std::string origin;
  if (e.origin()) {
    origin = ShortNumber(e.table.x0());
    origin = ',' + origin + ',' + ShortNumber(e.table.y0());
  }
  std::string out = e.origin() ? "x,y,a,b,c,x0,y0\n" : "x,y,a,b,c\n";
  for (std::size_t k = 0; k < e.table.size(); ++k) {
    for (std::size_t f = 0; f < 5; ++f) {
      if (f > 0) {
        out += ',';
      }
      out += Text(e, f, k);
    }
    out += origin + "\n";
  }
  return out;
}

// Reports the largest difference of the exported form from the table: the
// bound over the table's range, and the largest sampled; false when the
// bound is beyond --max-error.
bool Report(const Exported &e, const Options &o) {
  const bool cmsis = o.layout == "cmsis";
  const Difference d = LargestDifference(e, cmsis             ? "cmsis"
                                            : o.format == "c" ? o.type
                                                              : "exact");
  const auto [low, high] =
      std::minmax_element(e.fields[1].begin(), e.fields[1].end());
  const double range = *high - *low;
  const double relative = d.bound == 0 ? 0.0 : d.bound / range;
  std::string how = o.type + (e.fixed ? " fixed point" : " arithmetic");
  if (cmsis) {
    how = "float arithmetic of arm_spline_f32, fused or not";
  } else if (o.format != "c") {
    how = e.table.form() == knotfit::TableForm::kDouble
              ? "the exact binary64 texts"
              : "the exact binary32 texts";
  }
  std::fprintf(stderr,
               "knotfit-export: %s: largest difference at most %.17g "
               "(sampled %.17g at x = %.17g), %.17g of the y range (%s)\n",
               Quoted(e.path).c_str(), d.bound, d.sampled, d.at, relative,
               how.c_str());
  if (o.max_error && relative > *o.max_error) {
    std::fprintf(stderr,
                 "knotfit-export: %s: difference %.17g of the y range "
                 "exceeds --max-error %.17g\n",
                 Quoted(e.path).c_str(), relative, *o.max_error);
    return false;
  }
  return true;
}

std::string MaxError(Options &o, Values v) {
  const std::string text(v[0]);
  char *end = nullptr;
  const double e = knotfit::detail::StrtodC(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(e >= 0) || std::isinf(e)) {
    return "--max-error '" + Quoted(text) + "' is not a number >= 0";
  }
  o.max_error = e;
  return {};
}

const Option<Options> kOptions[] = {
    {"--format", 0, "FORMAT", "a value", Keep<&Options::format>,
     "c (a C99 header, the default), json (one object\n"
     "a line) or csv (one table)"},
    {"--type", 0, "TYPE", "a value", Keep<&Options::type>,
     "for c: float (the default), double, i32 or i16\n"
     "(fixed point)"},
    {"--layout", 0, "LAYOUT", "a value", Keep<&Options::layout>,
     "for c: knotfit (the default) or cmsis (CMSIS-DSP's\n"
     "spline instance; float, classic tables)"},
    {"--symbol", 0, "NAME", "a value", Keep<&Options::symbol>,
     "for c, one table: NAME instead of the file name"},
    {"--max-error", 0, "E", "a value", MaxError,
     "fail when the bound of the difference exceeds E\n"
     "times the y range"},
    kHelpRow<Options>,
    kVersionRow<Options>,
};

// What is wrong with a command line read without a fault; empty if nothing.
std::string Conflict(const Options &o) {
  const std::vector<std::string> formats = {"c", "json", "csv"};
  const std::vector<std::string> types = {"float", "double", "i32", "i16"};
  if (std::count(formats.begin(), formats.end(), o.format) == 0) {
    return "unknown format '" + Quoted(o.format) + "' (c, json, csv)";
  }
  if (std::count(types.begin(), types.end(), o.type) == 0) {
    return "unknown type '" + Quoted(o.type) + "' (float, double, i32, i16)";
  }
  if (o.layout != "knotfit" && o.layout != "cmsis") {
    return "unknown layout '" + Quoted(o.layout) + "' (knotfit, cmsis)";
  }
  if (o.layout == "cmsis") {
    if (std::string conflict = CmsisConflict(o.format, o.type);
        !conflict.empty()) {
      return conflict;
    }
  }
  if (o.tables.empty()) {
    return "no table";
  }
  if (o.format != "c" && (o.type != "float" || o.symbol)) {
    return "--type and --symbol are for --format c";
  }
  if ((o.symbol || o.format == "csv") && o.tables.size() > 1) {
    return std::string(o.symbol ? "--symbol" : "--format csv") +
           " takes one table";
  }
  if (o.symbol && !IsIdentifier(*o.symbol)) {
    return "symbol '" + Quoted(*o.symbol) + "' is not a C identifier";
  }
  return {};
}

const Program<Options> kProgram{
    "knotfit-export",
    "usage: knotfit-export [OPTION]... TABLE...\n"
    "Writes the coefficient tables TABLE (files knotfit wrote under CS/) "
    "to\n"
    "standard output as C source, JSON or CSV, and reports on standard\n"
    "error a bound of the difference of what was written from each table\n"
    "over its range, and the largest difference sampled.\n",
    kOptions,
    {23, ' '},
    &Options::tables,
    Conflict};

int Run(const Options &o) {
  std::vector<Exported> all;
  std::vector<std::string> symbols;
  for (const std::string &path : o.tables) {
    Exported e{path, BaseName(path), "", knotfit::read_table_file(path), {}, {},
               {}};
    e.symbol = o.symbol ? *o.symbol : SymbolFor(e.name, symbols);
    symbols.push_back(e.symbol);
    try {
      TakeFields(e, o.type == "float");
      if (o.layout == "cmsis") {
        CheckCmsisTable(e);
      }
      if (o.type == "i32" || o.type == "i16") {
        e.fixed =
            Quantize(e.fields, e.table.form() == knotfit::TableForm::kDouble,
                     o.type == "i16" ? 16 : 32);
      }
    } catch (const knotfit::Error &error) {
      throw knotfit::Error(path + ": " + error.what());
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
    out = o.layout == "cmsis" ? CmsisSource(all) : CHeader(all, o.type);
  }
  for (const Exported &e : all) {
    out += o.format == "json" ? Json(e) : o.format == "csv" ? Csv(e) : "";
  }
  errno = 0;
  const bool written =
      std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
  return CloseStandardOutput("knotfit-export", written ? 0 : errno) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
  Options o;
  if (const std::optional<int> status =
          ReadCommandLine(kProgram, argc, argv, o)) {
    return *status;
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
