#include "table_origin.h"

#include "../evaluate/calculus.h"
#include "../evaluate/evaluate.h"
#include "../exact_math.h"

namespace knotfit {

namespace {

// What f gives for the Calculus of the table's fields about its origin.
template <class F> auto AboutOrigin(const Table &t, F f) {
  const Origin origin{t.x0(), t.y0()};
  if (t.form() == TableForm::kDouble) {
    const Pieces<double> fields{t.size(),       t.x64().data(), t.y64().data(),
                                t.a64().data(), t.b64().data(), t.c64().data()};
    return f(Calculus<double, true>(fields, origin));
  }
  const Pieces<float> fields{t.size(),     t.x().data(), t.y().data(),
                             t.a().data(), t.b().data(), t.c().data()};
  return f(Calculus<float, true>(fields, origin));
}

} // namespace

double OriginAt(const Table &t, int order, double at, Extrapolation e) {
  return AboutOrigin(t, [&](const auto &c) { return c.At(order, at, e); });
}

double OriginIntegral(const Table &t, double lo, double hi, Extrapolation e) {
  return AboutOrigin(t, [&](const auto &c) { return c.Integral(lo, hi, e); });
}

std::vector<double> OriginInverse(const Table &t, double v) {
  return AboutOrigin(t, [&](const auto &c) { return c.Inverse(v); });
}

} // namespace knotfit
