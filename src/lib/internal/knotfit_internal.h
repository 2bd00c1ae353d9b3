// The library's internal tier: what knotfit's own program uses of the
// library beyond its public headers, and nothing else of src/lib (the build
// gives the program this directory only). Names below are used as
// knotfit::detail::Name.
#ifndef KNOTFIT_INTERNAL_H
#define KNOTFIT_INTERNAL_H

#include "../evaluate/evaluate.h"
#include "../evaluate/extrapolation.h"
#include "../evaluate/plot_samples.h"
#include "../evaluate/turning_points.h"
#include "../exact_math.h"
#include "../fit/checks.h"
#include "../fit/data_set_fit.h"
#include "../fit/measured.h"
#include "../fit/methods.h"
#include "../fit/smoothing_spline.h"
#include "../fit/tolerance_knots.h"
#include "../table/table_check.h"
#include "../table/table_encoding.h"
#include "../text/names.h"
#include "../text/quoted.h"
#include "../text/short_numbers.h"
#include "../text/strtod_c.h"

namespace knotfit::detail {

// The checks of a data set: its points, the method's own needs, and what
// its table can hold.
using knotfit::CollapsedKnots;
using knotfit::MethodProblem;
using knotfit::PointsProblem;
using knotfit::Problem;
using knotfit::ProblemPoint;
using knotfit::TableProblem;

// Data as measured: sorted, equal x merged, missing readings dropped.
using knotfit::ApplyMeasuredRules;
using knotfit::IsMissingText;
using knotfit::MeasuredCounts;
using knotfit::MeasuredRules;
using knotfit::ParseTies;
using knotfit::Ties;
using knotfit::TiesName;

// Tables of named values: a name read, the names listed.
using knotfit::ParseName;

// The fits: every kind by its table row (what it accepts, its fit), and a
// data set's one fit, as its table will hold it.
using knotfit::AllMethods;
using knotfit::Alternatives;
using knotfit::ComputeSpline;
using knotfit::DataSetFit;
using knotfit::ExtrapolationList;
using knotfit::FitArrays;
using knotfit::InfoOf;
using knotfit::MethodHelp;
using knotfit::MethodInfo;
using knotfit::MethodList;

// The cubic smoothing spline: lambda given, or chosen by GCV or by the
// degrees of freedom; the table's fields and the fit's statistics.
using knotfit::FitSmoothingSpline;
using knotfit::Smoothing;
using knotfit::SmoothingFit;

// Tables within a stated error: the bound as written, the methods that
// take it, the fewest knots found and the greedy reference.
using knotfit::AbsoluteTolerance;
using knotfit::Bound;
using knotfit::BoundProblem;
using knotfit::FitWithinTolerance;
using knotfit::FollowWithinTolerance;
using knotfit::GreedyKnots;
using knotfit::ParseRelativeTolerance;
using knotfit::ParseTolerance;
using knotfit::SplineOf;
using knotfit::TableVersusFit;
using knotfit::TakesTolerance;
using knotfit::Tolerance;
using knotfit::ToleranceFit;
using knotfit::ToleranceMethods;
using knotfit::ToleranceProgress;

// The table's encoding in every form (the origin of the offset and double
// forms, their size) and the one overflow rule.
using knotfit::EncodeTable;
using knotfit::FieldsOf;
using knotfit::FitsBinary32;
using knotfit::Narrow;
using knotfit::TableFields;
using knotfit::TableSize;

// What a table in a form keeps of its fit (the binary32 check), and the
// least form that keeps it.
using knotfit::CheckTable;
using knotfit::FormAfter;
using knotfit::TableCheck;

// Evaluation and the plot's samples.
using knotfit::CubicAt;
using knotfit::Roots;
using knotfit::SamplePlot;
using knotfit::TurningPoints;

// Number text (knotfit-export's texts of values too), and outside text in
// messages: the one quoting rule of every program (knotfit-eval and
// knotfit-export use it too); in C comments and JSON strings, the same
// text as UTF-8.
using knotfit::JsonString;
using knotfit::NonFiniteText;
using knotfit::Quoted;
using knotfit::QuotedUtf8;
using knotfit::ShortBinary32;
using knotfit::ShortNumber;
using knotfit::StrtodC;
using knotfit::Utf8Length;

} // namespace knotfit::detail

#endif
