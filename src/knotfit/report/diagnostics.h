// What can be wrong with a fit that was written all the same: the flags of
// the report, the summary and --fail-on. Each is computed from the double
// fit and from its coefficient table as the table's readers evaluate it.
#ifndef KNOTFIT_REPORT_DIAGNOSTICS_H
#define KNOTFIT_REPORT_DIAGNOSTICS_H

#include "knotfit/spline.hpp"
#include "knotfit/table.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class Flag { kOvershoot, kNotMonotone, kBinary32, kSpacing };

// A flag's name (as --fail-on and the JSON summary spell it) and what it
// means, in words for the report's reader and in brief for --help (its
// lines as the help text breaks them).
struct FlagInfo {
  Flag flag;
  const char *name;
  const char *meaning;
  const char *brief;
};
const FlagInfo &InfoOf(Flag flag);
// All four, in the order above.
const std::vector<FlagInfo> &AllFlags();
// Reads a flag's name; false for anything else (out is then unchanged).
bool ParseFlag(std::string_view name, Flag &out);

// A set of flags, one bit each.
using FlagSet = unsigned;
constexpr FlagSet Bit(Flag flag) {
  return 1u << static_cast<unsigned>(flag);
}

// One flag raised on a fit.
struct Finding {
  explicit Finding(Flag f, double amount_ = 0.0, double at_ = 0.0,
                   std::string cause_ = {})
      : flag(f), amount(amount_), at(at_), cause(std::move(cause_)) {}
  Flag flag;
  // overshoot: how far S leaves the band of a segment's two ordinates, at
  // most; not-monotone: how far S falls against the data's direction;
  // binary32: the largest |table - fit|; spacing: largest gap / smallest.
  double amount;
  double at; // the abscissa where amount is found
  // binary32: a field narrowed to a subnormal or to zero, or knots that
  // collapsed; spacing: the two gaps. Empty otherwise.
  std::string cause;
  // The other methods whose fit of the same points does not raise this
  // flag (clamped is not tried: its end slopes are the user's to know; nor
  // is smooth; a smoothed fit gets none).
  std::vector<knotfit::Method> avoided_by;
  // binary32: the first table form after the one written whose table of
  // the same fit is not flagged, if any.
  std::optional<knotfit::TableForm> avoided_by_form;
};

// A segment on which S leaves the band of its two ordinates.
struct Span {
  double from, to;
};

struct Diagnosis {
  std::vector<Finding> findings; // in the order of Flag
  std::vector<Span> overshoot;   // every segment flagged, in order
  FlagSet flags() const;
};

// Every flag of the fit, its binary32 flag on its table in the form
// written. For each one raised, the other methods are fitted to the same
// points and checked for it, in the same form; for binary32 also the later
// forms, on the same fit.
Diagnosis Diagnose(const knotfit::Spline &fit,
                   const knotfit::MethodChoice &method,
                   knotfit::TableForm form = knotfit::TableForm::kClassic);

// The points a table was made for (after --sort, --ties, --missing), or the
// knots of the smoothing fit it follows.
struct TablePoints {
  std::vector<double> x, y;
};

// The flags of a table written for a bound (--tolerance) with E and R in
// y's units, on the table's own curve T: overshoot and not-monotone on each
// interval of the data, an overshoot within the bound there not flagged;
// binary32 T as written against the doubles it was encoded from; spacing
// T's knots. No other method is tried.
Diagnosis DiagnoseTable(const knotfit::Spline &table, const TablePoints &data,
                        double e, double r,
                        knotfit::TableForm form = knotfit::TableForm::kClassic);

#endif
