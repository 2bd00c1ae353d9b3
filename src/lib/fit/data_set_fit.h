// A data set's fit, made once, as its coefficient table will hold it: the
// one fit that the program writes, and that fit_request returns to the
// Python module and to C++ callers.
//
// The points are checked here (PointsProblem, then the method's own needs),
// then fitted as the request asks: by the method's row, through every point
// or near them (smoothing); with a bound, on the fewest knots found for it
// in the form (or, for the automatic form, in the first of classic, offset
// and double that meets it); without one, in the form asked for or the
// least one whose table keeps the fit (LeastTableForm). Interpolants are
// fitted into the caller's arrays, reused from one data set to the next.
//
// A long not-a-knot fit for a classic or offset table may be kept in a
// compact form: its slopes in double and the coefficients b and c of every
// segment only as the binary32 pair the table stores; its values recompute
// the segment they need from the slopes, bit for bit as the fit formed it.
// With the points, that is 32 bytes per point instead of 56. A smoothing fit
// keeps its own knots (the distinct x, their smoothed y) and their fields
// beside them, with what it chose; so does a fit within a bound, with the
// knots found for it.
#ifndef KNOTFIT_LIB_DATA_SET_FIT_H
#define KNOTFIT_LIB_DATA_SET_FIT_H

#include "../table/table_encoding.h"
#include "checks.h"
#include "hermite.h"
#include "knotfit/request.hpp"
#include "smoothing_spline.h"
#include "tolerance_knots.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace knotfit {

// The fits a DataSetFit made: through the points (an interpolant), near
// them (a smoothing fit), and knot searches for a bound (one per form
// tried; each fits the method through every point once, for the bound's
// rule, then fits its trial knots).
struct FitsMade {
  int through = 0, near = 0, searches = 0;
};

// The caller's arrays for an interpolant's a, b and c, n doubles each.
struct FitArrays {
  double *a = nullptr, *b = nullptr, *c = nullptr;
};

class DataSetFit {
public:
  // The n points (x[i], y[i]), with weights w (null: all 1) for a method
  // that takes them, fitted as the request asks (its measured rules are the
  // caller's, already applied); compact: a long not-a-knot fit may be kept
  // compact (the program's tables; never for a Spline made of it). progress,
  // when set, hears of a long knot search.
  DataSetFit(const Request &request, int32_t n, const double *x,
             const double *y, const double *w, FitArrays work,
             bool compact = false, const ToleranceProgress &progress = {});
  DataSetFit(const DataSetFit &) = delete;
  DataSetFit &operator=(const DataSetFit &) = delete;

  // Why no fit was made: the points' problem, or the method's (a value
  // about one point); empty when one was.
  const Problem &problem() const { return problem_; }

  // The fields the table encoder reads, and the form they are written in.
  const TableFields &fields() const { return fields_; }
  TableForm form() const { return form_; }
  int32_t n() const { return fields_.n; }
  const double *x() const { return fields_.x; }

  // Why the fit, made, holds no table: the smoothing spline's own refusal
  // (a weight or gap out of its range, df beyond the distinct x, ...), a
  // bound that allows no error at a point, or x that no form asked for can
  // hold under a bound. Empty otherwise.
  const Problem &refused() const { return refused_; }
  // Why it cannot be written: refused(), then a field that is not finite
  // in the form's precision, all x first, then y, a, b and c. Empty when it
  // can.
  Problem Refusal() const;
  // Neighbouring knots that the form stores with the same x, or empty.
  Problem Collapsed() const;

  // The smoothing fit, with its knots and what it chose; null for an
  // interpolant.
  std::shared_ptr<const SmoothingFit> smoothing() const { return smoothing_; }
  // The knots found for a bound and what the table reached with them (the
  // bound in y's units); null without one.
  std::shared_ptr<const ToleranceFit> knots() const { return knots_; }
  double bound() const { return bound_; }
  const FitsMade &made() const { return made_; }
  double relative_bound() const { return relative_; }

  // S(t), the clamped value getValue gives: getValue itself for a fit held
  // in double, the same bits from the compact form.
  double Value(double t) const;
  // Where a walk along the fit stands: its segment (start at 0) and, for
  // the compact form, that segment's coefficients, made once.
  struct Walk {
    std::size_t segment = 0;
    std::size_t made = SIZE_MAX; // the segment whose b and c these are
    double b = 0.0, c = 0.0;
  };
  // The same value, for t no lower than at the last call with this walk:
  // the plot's samples go up, so the segment is found by walking on from
  // the last one instead of by a search, and the compact form's segment is
  // recomputed once, not at every sample. The segment is the one the search
  // finds: the last knot below t, at most the last but one.
  double ValueAfter(double t, Walk &walk) const;

private:
  struct CompactWork;

  void Fit(const Request &request, int32_t n, const double *x, const double *y,
           const double *w, FitArrays work, bool compact,
           const ToleranceProgress &progress);
  void FitWithin(const Request &request, int32_t n, const double *x,
                 const double *y, const ToleranceProgress &progress);
  double SegmentValue(std::size_t k, double u) const;
  SegmentCoefficients CompactSegment(std::size_t k) const;
  // A problem about knot k points at point k while the knots are the points;
  // at the whole data set once a smoothing fit merged some of them.
  Problem AtPoint(Problem problem) const;
  void SetOrigin();

  Problem problem_;
  TableFields fields_;
  TableForm form_;
  std::shared_ptr<SmoothingFit> smoothing_;
  std::shared_ptr<ToleranceFit> knots_;
  double bound_ = 0.0;
  double relative_ = 0.0;
  Problem refused_;
  FitsMade made_;
  bool merged_ = false; // its knots are fewer than the points
  // For a compact fit: the first segment whose b or c binary32 cannot hold.
  int32_t bad_b_ = -1, bad_c_ = -1;
  double bad_b_value_ = 0.0, bad_c_value_ = 0.0;
};

// An interpolant's fields held in double (never compact) as a Spline.
Spline SplineOf(const TableFields &fields);

} // namespace knotfit

#endif
