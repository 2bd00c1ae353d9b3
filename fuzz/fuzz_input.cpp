// Fuzz target: arbitrary bytes as an input file, through the reader, the
// checks, the engine and both file formats (written to /dev/null, so that no
// name can end the run by failing to open). The bisection in getValue is
// checked against a linear search on the way.
#include "driver.h"
#include "kel.h"
#include "kel_writers.h"
#include "knotfit.h"
#include "token_reader.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The segment a linear search from the first knot picks.
double LinearValue(double t, int32_t n, const double *x, const double *y,
                   const double *a, const double *b, const double *c) {
  if (t <= x[0]) {
    return y[0];
  }
  if (t >= x[n - 1]) {
    return y[n - 1];
  }
  int32_t i = 0;
  while (t > x[i]) {
    ++i;
  }
  const int32_t k = i - 1;
  const double u = t - x[k];
  return ((a[k] * u + y[k]) + (b[k] * u) * u) + ((c[k] * u) * u) * u;
}

uint64_t Bits(double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

void SameBits(double expected, double got) {
  if (Bits(expected) != Bits(got) &&
      !(std::isnan(expected) && std::isnan(got))) {
    std::abort();
  }
}

int32_t FitIntoSink(int32_t n, const double *x, const double *y,
                    const char *name) {
  if (!CheckDataSet(n, x, y, name).empty()) {
    return -1;
  }
  std::vector<double> a(static_cast<size_t>(n));
  std::vector<double> b(static_cast<size_t>(n));
  std::vector<double> c(static_cast<size_t>(n));
  ComputeCubicSpline(n, x, y, a.data(), b.data(), c.data());
  for (int32_t i = 0; i < n; ++i) {
    const double mid = i + 1 < n ? x[i] + (x[i + 1] - x[i]) / 2 : x[i] + 1;
    for (double t : {x[i], mid, std::nextafter(x[i], -INFINITY)}) {
      SameBits(LinearValue(t, n, x, y, a.data(), b.data(), c.data()),
               getValue(t, n, x, y, a.data(), b.data(), c.data()));
    }
  }
  if (!std::isnan(getValue(NAN, n, x, y, a.data(), b.data(), c.data()))) {
    std::abort();
  }
  struct : Sink {
    bool Write(const char *, size_t) override { return true; }
  } sink;
  WriteCoefficientTable(sink, n, x, y, a.data(), b.data(), c.data());
  double step = 0.0;
  if (PlotStep(n, x, &step).empty()) {
    WritePlotLines(sink, step, n, x, y, a.data(), b.data(), c.data());
  }
  return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) {
    return 0; // fmemopen refuses an empty buffer
  }
  std::FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (in == nullptr) {
    return 0;
  }
  TokenReader reader(in, 61); // small blocks: tokens across every edge
  ProcessInput(reader, FitIntoSink);
  std::fclose(in);
  return 0;
}
