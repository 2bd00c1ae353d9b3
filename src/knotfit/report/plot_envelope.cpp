#include "report/plot_envelope.h"

#include "report/diagnostics.h"

#include "knotfit_internal.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// For Spline and Table alike (a table's fields are widened to double).
template <class Curve>
Envelope Columns(const Curve &s, double from, double to) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  Envelope e{std::vector<double>(kPlotColumns, kInf),
             std::vector<double>(kPlotColumns, -kInf)};
  const double width = (to - from) / static_cast<double>(kPlotColumns);
  auto put = [&](size_t column, double v) {
    e.low[column] = std::min(e.low[column], v);
    e.high[column] = std::max(e.high[column], v);
  };
  auto put_at = [&](double t) {
    const double column = std::min(std::floor((t - from) / width),
                                   static_cast<double>(kPlotColumns - 1));
    put(column > 0.0 ? static_cast<size_t>(column) : 0, s.value(t));
  };
  // An edge belongs to both columns it divides.
  for (size_t c = 0; c <= kPlotColumns; ++c) {
    const double t = from + width * static_cast<double>(c);
    const double v = s.value(t);
    if (c > 0) {
      put(c - 1, v);
    }
    if (c < kPlotColumns) {
      put(c, v);
    }
  }
  const size_t n = s.size();
  for (size_t k = 0; k + 1 < n; ++k) {
    const double x0 = s.x()[k], h = s.x()[k + 1] - x0;
    put_at(x0);
    for (const double u :
         knotfit::detail::TurningPoints(s.a()[k], s.b()[k], s.c()[k], h)) {
      put_at(x0 + u);
    }
  }
  put_at(s.x()[n - 1]);
  return e;
}

} // namespace

Envelope EnvelopeOf(const knotfit::Spline &fit) {
  return Columns(fit, fit.x().front(), fit.x().back());
}

Envelope EnvelopeOf(const knotfit::Table &table, double from, double to) {
  return Columns(table, from, to);
}
