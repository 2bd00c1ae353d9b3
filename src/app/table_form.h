// A data set's fit as its coefficient table will hold it, in a run's reused
// arrays. Short data sets and the other methods keep the double slopes and
// coefficients of the SplineTable. A long not-a-knot fit keeps its slopes in
// double and the coefficients b and c of every segment only as the binary32
// pair the table stores: the plot recomputes the few segments it samples
// from the slopes, bit for bit as the fit formed them. With the points, that
// is 32 bytes per point instead of 56.
#ifndef KNOTFIT_APP_TABLE_FORM_H
#define KNOTFIT_APP_TABLE_FORM_H

#include "big_array.h"

#include "knotfit/method.hpp"

#include <cstdint>
#include <string>

// The arrays a run reuses from one data set to the next.
struct Workspace {
  BigArray<double> a, b, c;
};

class TableForm {
public:
  // Fits the n points (which passed every check) with the method.
  TableForm(const knotfit::MethodChoice &method, int32_t n, const double *x,
            const double *y, Workspace &work);
  // A fit already held as a SplineTable of doubles.
  TableForm(int32_t n, const double *x, const double *y, const double *a,
            const double *b, const double *c)
      : n_(n), x_(x), y_(y), a_(a), b_(b), c_(c) {}

  int32_t n() const { return n_; }
  const double *x() const { return x_; }
  const double *y() const { return y_; }
  const double *a() const { return a_; }
  // The double coefficients; null for a fit kept in binary32.
  const double *b() const { return compact_ ? nullptr : b_; }
  const double *c() const { return compact_ ? nullptr : c_; }

  // Why the table cannot hold the fit: a field that is not finite in
  // binary32, all x first, then y, a, b and c. Empty when it can.
  std::string Binary32Problem() const;

  // Knot i's five fields as the table stores them: x, y, a, b, c.
  void Fields(int32_t i, float out[5]) const;

private:
  struct CompactWork;

  int32_t n_;
  const double *x_, *y_, *a_, *b_, *c_;
  bool compact_ = false;
  // For a compact fit: the first segment whose b or c binary32 cannot hold.
  int32_t bad_b_ = -1, bad_c_ = -1;
  double bad_b_value_ = 0.0, bad_c_value_ = 0.0;
};

#endif
