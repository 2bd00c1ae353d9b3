// A data set's fit as its coefficient table will hold it, in a run's reused
// arrays. Short data sets and the other methods keep the double slopes and
// coefficients of the SplineTable. A long not-a-knot fit is kept in the
// program's compact form: its slopes in double and the coefficients b and c
// of every segment only as the binary32 pair the table stores; its values
// recompute the segment they need from the slopes, bit for bit as the fit
// formed it. With the points, that is 32 bytes per point instead of 56. A
// smoothing fit keeps its own knots (the distinct x, their smoothed y) and
// the SplineTable beside them, with what it chose; so does a fit within a
// bound, with the knots found for it.
#ifndef KNOTFIT_FIT_TABLE_FORM_H
#define KNOTFIT_FIT_TABLE_FORM_H

#include "fit/big_array.h"
#include "input/point_places.h"

#include "knotfit/method.hpp"
#include "knotfit/spline.hpp"
#include "knotfit/table.hpp"
#include "knotfit_internal.h"

#include <cstdint>
#include <memory>
#include <string>

// --table: the form of every table, or (automatic) for each data set the
// least form its fit needs; given: the option was on the command line, so
// that the JSON summary names each data set's form.
struct TableChoice {
  knotfit::TableForm form = knotfit::TableForm::kClassic;
  bool automatic = false;
  bool given = false;
};

// The arrays a run reuses from one data set to the next.
struct Workspace {
  BigArray<double> a, b, c;
};

class TableForm {
public:
  // Fits the n points (which passed every check) with the method, for a
  // table of the form; a smoothing method with the weights w (null: all 1)
  // and the rule how; with a bound (--tolerance), on the knots found for it
  // in that form, or (automatic) in the first of classic, offset and
  // double whose table meets it. The double form keeps b and c in double,
  // so a long fit is never compact there; the offset and double forms get
  // their origin. With judge and no bound (--table=auto), form is the
  // judge's of the fit made here, which is kept in double and written in
  // that form: the fit is made once.
  TableForm(const knotfit::MethodChoice &method, knotfit::TableForm form,
            int32_t n, const double *x, const double *y, Workspace &work,
            const double *w = nullptr,
            const knotfit::detail::Smoothing &how = {},
            const knotfit::detail::Tolerance *bound = nullptr,
            bool automatic = false,
            const knotfit::detail::ToleranceProgress &progress = {});

  // The fields the table encoder reads, and the form they are written in.
  const knotfit::detail::TableFields &fields() const { return fields_; }
  knotfit::TableForm form() const { return form_; }
  int32_t n() const { return fields_.n; }
  const double *x() const { return fields_.x; }

  // Why the fit cannot be written: the smoothing spline's own refusal (a
  // weight or gap out of its range, df beyond the distinct x, ...), then
  // a field that is not finite in the form's precision, all x first, then
  // y, a, b and c. Empty when it can.
  Problem Refusal() const;
  // Neighbouring knots that the form stores with the same x, or empty.
  Problem Collapsed() const;
  // The smoothing fit, with its knots and what it chose; null for an
  // interpolant.
  std::shared_ptr<const knotfit::detail::SmoothingFit> smoothing() const {
    return smoothing_;
  }

  // The knots found for a bound and what the table reached with them (the
  // bound in y's units); null without one.
  std::shared_ptr<const knotfit::detail::ToleranceFit> knots() const {
    return knots_;
  }
  double bound() const { return bound_; }
  double relative_bound() const { return relative_; }

  // S(t), the clamped value getValue gives: getValue itself for a fit held
  // as a SplineTable, the same bits from the compact form.
  double Value(double t) const;
  // Where a walk along the fit stands: its segment (start at 0) and, for
  // the compact form, that segment's coefficients, made once.
  struct Walk {
    size_t segment = 0;
    size_t made = SIZE_MAX; // the segment whose b and c these are
    double b = 0.0, c = 0.0;
  };
  // The same value, for t no lower than at the last call with this walk:
  // the plot's samples go up, so the segment is found by walking on from
  // the last one instead of by a search, and the compact form's segment is
  // recomputed once, not at every sample. The segment is the one the search
  // finds: the last knot below t, at most the last but one.
  double ValueAfter(double t, Walk &walk) const;

private:
  double SegmentValue(size_t k, double u) const;
  knotfit::detail::SegmentCoefficients CompactSegment(size_t k) const;

  struct CompactWork;

  // A problem about knot k points at point k while the knots are the points;
  // at the whole data set once a smoothing fit merged some of them.
  Problem AtPoint(Problem problem) const;
  void FitWithin(const knotfit::MethodChoice &method, int32_t n,
                 const double *x, const double *y,
                 const knotfit::detail::Tolerance &bound, bool automatic,
                 const knotfit::detail::ToleranceProgress &progress);
  void SetOrigin();

  knotfit::detail::TableFields fields_;
  knotfit::TableForm form_;
  std::shared_ptr<knotfit::detail::SmoothingFit> smoothing_;
  std::shared_ptr<knotfit::detail::ToleranceFit> knots_;
  double bound_ = 0.0;
  double relative_ = 0.0;
  Problem refused_;     // by the smoothing fit, or the x a bound cannot take
  bool merged_ = false; // its knots are fewer than the points
  // For a compact fit: the first segment whose b or c binary32 cannot hold.
  int32_t bad_b_ = -1, bad_c_ = -1;
  double bad_b_value_ = 0.0, bad_c_value_ = 0.0;
};

#endif
