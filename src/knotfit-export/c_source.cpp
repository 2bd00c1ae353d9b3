#include "c_source.h"

#include "knotfit_internal.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <utility>

namespace {

// Replaces every @NAME@ of text by its value.
std::string Fill(std::string text,
                 const std::vector<std::pair<std::string, std::string>> &as) {
  for (const auto &[name, value] : as) {
    for (std::size_t at = text.find(name); at != std::string::npos;
         at = text.find(name, at + value.size())) {
      text.replace(at, name.size(), value);
    }
  }
  return text;
}

// Both preambles refuse what would change the floating-point results, and
// keep multiply-adds from being fused: GCC by its optimize pragma (popped at
// the end), clang by the standard pragma in every function.
const char kFloatPreamble[] = R"(#if defined(__FAST_MATH__)
#error "-ffast-math changes these results"
#endif
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0
#error "these results need FLT_EVAL_METHOD 0"
#endif
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("fp-contract=off")
#endif
#if defined(__clang__)
#define KNOTFIT_EXPORT_EXACT_ _Pragma("STDC FP_CONTRACT OFF")
#else
#define KNOTFIT_EXPORT_EXACT_
#endif
)";

const char kFloatEnd[] = R"(#undef KNOTFIT_EXPORT_EXACT_
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC pop_options
#endif
)";

// Shift of fixed_point.cpp, in the wide type.
const char kFixedPreamble[] = R"(#ifndef KNOTFIT_EXPORT_SHIFT@W@_
#define KNOTFIT_EXPORT_SHIFT@W@_
/* v times 2^-r, floored. */
static inline int@W@_t knotfit_export_shift@W@_(int@W@_t v, int r) {
  if (r >= @W@ - 1) {
    return v < 0 ? -1 : 0;
  }
  return r >= 0 ? v >> r : v * ((int@W@_t)1 << -r);
}
#endif
)";

// The search of every knotfit reader: x[lo] < x <= x[hi] down to a segment.
const char kSearch[] = R"(  while (hi - lo > 1) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (@S@_x[mid] < x) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
)";

// As knotfit_table_at of knotfit/table.h (clamped) on a table of the offset
// or double form: y0 plus the fields' S at x - x0.
const char kOriginValue[] = R"(static inline double @S@_value(double x) {
  KNOTFIT_EXPORT_EXACT_
  int32_t lo = 0, hi = @S@_n - 1;
  double u;
  if (!(x == x)) {
    return x;
  }
  x = x - @S@_x0;
  if (x <= @S@_x[0]) {
    return @S@_y0 + @S@_y[0];
  }
  if (x >= @S@_x[hi]) {
    return @S@_y0 + @S@_y[hi];
  }
@SEARCH@  u = x - @S@_x[lo];
  return @S@_y0 +
         (((@S@_a[lo] * u + @S@_y[lo]) + (@S@_b[lo] * u) * u) +
          ((@S@_c[lo] * u) * u) * u);
}
)";

// As knotfit_table_valuef and knotfit_table_value of knotfit/table.h (the
// former also as knotfit_table_atf_offset, on the fields about an origin).
const char kFloatValue[] = R"(static inline @T@ @S@_value(@T@ x) {
  KNOTFIT_EXPORT_EXACT_
  int32_t lo = 0, hi = @S@_n - 1;
  @T@ u;
  if (!(x == x)) {
    return x;
  }
  if (x <= @S@_x[0]) {
    return @S@_y[0];
  }
  if (x >= @S@_x[hi]) {
    return @S@_y[hi];
  }
@SEARCH@  u = x - @S@_x[lo];
  return ((@S@_a[lo] * u + @S@_y[lo]) + (@S@_b[lo] * u) * u) +
         ((@S@_c[lo] * u) * u) * u;
}
)";

// As Evaluate of fixed_point.cpp.
const char kFixedValue[] = R"(static inline @T@ @S@_value(@T@ x) {
  int32_t lo = 0, hi = @S@_n - 1;
  int@W@_t u, h;
  if (x <= @S@_x[0]) {
    return (@T@)knotfit_export_shift@W@_(@S@_y[0], @Y@);
  }
  if (x >= @S@_x[hi]) {
    return (@T@)knotfit_export_shift@W@_(@S@_y[hi], @Y@);
  }
@SEARCH@  u = (int@W@_t)x - @S@_x[lo];
  h = @S@_c[lo];
  h = knotfit_export_shift@W@_(@S@_b[lo], @B@) + knotfit_export_shift@W@_(h * u, @BU@);
  h = knotfit_export_shift@W@_(@S@_a[lo], @A@) + knotfit_export_shift@W@_(h * u, @AU@);
  h = knotfit_export_shift@W@_(@S@_y[lo], @Y0@) + knotfit_export_shift@W@_(h * u, @YU@);
  return (@T@)h;
}
)";

const char *const kFields[5] = {"x", "y", "a", "b", "c"};

// A table's file name inside a C comment: printable UTF-8, which every
// compiler takes. A file name holds no '/', so it cannot end the comment
// ("*/") or open another ("/*").
std::string CommentText(const std::string &name) {
  return knotfit::detail::QuotedUtf8(name);
}

// A double as C reads it back exactly, a floating constant.
std::string DoubleLiteral(double v) {
  std::string text = knotfit::detail::ShortNumber(v);
  return text.find_first_of(".e") == std::string::npos ? text + ".0" : text;
}

// A value as C reads it back exactly: the shortest text of the float the
// type holds (float) or of the field's double (double), or the fixed-point
// integer.
std::string Literal(const ExportedTable &e, const std::string &type,
                    std::size_t f, std::size_t k) {
  if (e.fixed) {
    const int64_t q = e.fixed->q[f][k];
    // -2^31 as a sum: 2147483648 alone is no int.
    return q == INT32_MIN ? "(-2147483647 - 1)" : std::to_string(q);
  }
  if (type != "float") {
    return DoubleLiteral(e.fields[f][k]);
  }
  std::string text = knotfit::detail::ShortBinary32(e.floats[f][k]);
  if (text.find_first_of(".e") == std::string::npos) {
    text += ".0";
  }
  return text + "f";
}

// The C of one table: its constants, its arrays, its evaluation.
std::string Table(const ExportedTable &e, const std::string &type) {
  const std::string &s = e.symbol;
  const std::size_t n = e.table.size();
  const std::string narrow = !e.fixed        ? type
                             : type == "i16" ? "int16_t"
                                             : "int32_t";
  std::string out =
      "/* " + CommentText(e.name) +
      (e.origin()
           ? std::string(": the ") + knotfit::TableFormName(e.table.form()) +
                 " form, about the origin " + s + "_x0, " + s + "_y0"
           : "") +
      " */\nenum { " + s + "_n = " + std::to_string(n);
  for (std::size_t f = 0; e.fixed && f < 5; ++f) {
    out += ", " + s + "_" + kFields[f] +
           "_frac_bits = " + std::to_string(e.fixed->frac[f]);
  }
  if (e.fixed) {
    out += ", " + s +
           "_value_frac_bits = " + std::to_string(e.fixed->value_frac());
  }
  out += " };\n";
  if (e.origin()) {
    out += "static const double " + s + "_x0 = " + DoubleLiteral(e.table.x0()) +
           ", " + s + "_y0 = " + DoubleLiteral(e.table.y0()) + ";\n";
  }
  for (std::size_t f = 0; f < 5; ++f) {
    out += "static const " + narrow + " " + s + "_" + kFields[f] + "[" +
           std::to_string(n) + "] = {";
    for (std::size_t k = 0; k < n; ++k) {
      out += (k % 4 == 0 ? "\n    " : " ") + Literal(e, type, f, k) +
             (k + 1 < n ? "," : "");
    }
    out += "};\n";
  }
  const std::vector<std::pair<std::string, std::string>> names = {
      {"@SEARCH@", kSearch}, {"@S@", s}, {"@T@", narrow}};
  if (!e.fixed) {
    const bool origin = e.origin() && type == "double";
    return out + Fill(origin ? kOriginValue : kFloatValue, names) + "\n";
  }
  // The shifts of Evaluate: from each column's scale, and from the scale
  // of h u, to the scale of the step.
  const FixedTable &q = *e.fixed;
  auto shift = [](int r) { return std::to_string(r); };
  const std::string value =
      Fill(kFixedValue, {{"@Y@", shift(q.frac[1] - q.value_frac())},
                         {"@B@", shift(q.frac[3] - q.steps[0])},
                         {"@BU@", shift(q.frac[4] + q.frac[0] - q.steps[0])},
                         {"@A@", shift(q.frac[2] - q.steps[1])},
                         {"@AU@", shift(q.steps[0] + q.frac[0] - q.steps[1])},
                         {"@Y0@", shift(q.frac[1] - q.steps[2])},
                         {"@YU@", shift(q.steps[1] + q.frac[0] - q.steps[2])},
                         {"@W@", type == "i16" ? "32" : "64"}});
  return out + Fill(value, names) + "\n";
}

} // namespace

std::string CHeader(const std::vector<ExportedTable> &tables,
                    const std::string &type) {
  const bool fixed = type == "i32" || type == "i16";
  std::string names, guard = "KNOTFIT_EXPORT_";
  for (const ExportedTable &e : tables) {
    names += (names.empty() ? "" : ", ") + CommentText(e.name);
  }
  for (const char ch : tables.front().symbol) {
    guard += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  std::string out =
      "/* Generated by knotfit-export " KNOTFIT_VERSION " (--type " + type +
      ") from the knotfit tables " + names +
      ".\n * NAME_value(x) is the spline at x: the end ordinates beyond the\n"
      " * knots, an interior knot evaluated on the segment that ends there.\n";
  const bool origin =
      std::any_of(tables.begin(), tables.end(),
                  [](const ExportedTable &e) { return e.origin(); });
  if (origin) {
    out += type == "double"
               ? " * A table of the offset or double form is evaluated about "
                 "its origin\n * NAME_x0, NAME_y0: NAME_y0 + its fields' "
                 "value at x - NAME_x0.\n"
               : " * A table of the offset or double form holds its fields "
                 "about its origin\n * NAME_x0, NAME_y0: there NAME_value "
                 "takes x - NAME_x0 and gives S - NAME_y0.\n";
  }
  out += fixed
             ? " * Fixed point: x is the abscissa times 2^NAME_x_frac_bits, "
               "rounded; the\n * value is S times 2^NAME_value_frac_bits. "
               "Needs arithmetic right shifts\n * of negative numbers "
               "(every usual compiler). */\n"
             : " * Bit for bit as knotfit_table_value" +
                   std::string(type == "float" ? "f" : "") +
                   " of knotfit/table.h computes it" +
                   (!origin            ? ""
                    : type == "double" ? ",\n * or knotfit_table_at (clamp)"
                                       : ",\n * or knotfit_table_atf_offset") +
                   ". */\n";
  out += "#ifndef " + guard + "_H\n#define " + guard +
         "_H\n\n#include <stdint.h>\n\n";
  out += fixed ? Fill(kFixedPreamble, {{"@W@", type == "i16" ? "32" : "64"}})
               : kFloatPreamble;
  out += "\n";
  for (const ExportedTable &e : tables) {
    out += Table(e, type);
  }
  return out + (fixed ? "" : std::string(kFloatEnd) + "\n") + "#endif\n";
}
