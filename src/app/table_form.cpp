#include "table_form.h"

#include "checks.h"
#include "exact_math.h"
#include "methods.h"
#include "not_a_knot.h"

#include <cmath>
#include <cstring>

namespace {

// The binary32 value of v; infinity beyond the range (narrowing such a value
// is undefined in C++). The data set is refused then, never written.
float Narrow(double v) {
  if (std::fabs(v) < knotfit::kBinary32Overflow || std::isnan(v)) {
    return static_cast<float>(v);
  }
  return v > 0 ? HUGE_VALF : -HUGE_VALF;
}

} // namespace

// The solver's rows live where the results go: the right-hand side in a,
// the diagonal in the eight bytes that then hold (b, c) as binary32.
struct TableForm::CompactWork {
  TableForm &form;
  double *a, *bc;
  double &Diagonal(int32_t i) { return bc[i]; }
  double &Rhs(int32_t i) { return a[i]; }
  void Finish(int32_t i, double slope, double b, double c) {
    a[i] = slope;
    const float pair[2] = {Narrow(b), Narrow(c)};
    std::memcpy(&bc[i], pair, sizeof pair);
    // i runs down: the last one seen is the first in the table's order.
    if (!(std::fabs(b) < knotfit::kBinary32Overflow)) {
      form.bad_b_ = i;
      form.bad_b_value_ = b;
    }
    if (!(std::fabs(c) < knotfit::kBinary32Overflow)) {
      form.bad_c_ = i;
      form.bad_c_value_ = c;
    }
  }
};

TableForm::TableForm(const knotfit::MethodChoice &method, int32_t n,
                     const double *x, const double *y, Workspace &work)
    : n_(n), x_(x), y_(y) {
  const auto size = static_cast<size_t>(n);
  work.a.ResizeForOverwrite(size);
  work.b.ResizeForOverwrite(size);
  a_ = work.a.data();
  b_ = work.b.data();
  compact_ = method.method == knotfit::Method::kNotAKnot && n >= 4;
  if (compact_) {
    c_ = nullptr;
    CompactWork compact{*this, work.a.data(), work.b.data()};
    knotfit::SolveNotAKnot(n, x, y, compact);
    return;
  }
  work.c.ResizeForOverwrite(size);
  c_ = work.c.data();
  knotfit::ComputeSpline(method, n, x, y, work.a.data(), work.b.data(),
                         work.c.data());
}

std::string TableForm::Binary32Problem() const {
  std::string problem = knotfit::NarrowingProblem(n_, x_, y_, a_, b(), c());
  if (problem.empty() && bad_b_ >= 0) {
    problem = knotfit::Binary32FieldProblem("b", bad_b_, bad_b_value_);
  }
  if (problem.empty() && bad_c_ >= 0) {
    problem = knotfit::Binary32FieldProblem("c", bad_c_, bad_c_value_);
  }
  return problem;
}

void TableForm::Fields(int32_t i, float out[5]) const {
  out[0] = Narrow(x_[i]);
  out[1] = Narrow(y_[i]);
  out[2] = Narrow(a_[i]);
  if (compact_) {
    std::memcpy(out + 3, &b_[i], 2 * sizeof(float));
  } else {
    out[3] = Narrow(b_[i]);
    out[4] = Narrow(c_[i]);
  }
}
