// Microbenchmarks of the engine, the plot sampling and the number text.
#include "input/number_text.h"
#include "knotfit.h"
#include "knotfit_internal.h"
#include "output/kel_files.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

struct Data {
  std::vector<double> x, y, a, b, c;
  explicit Data(size_t n) : x(n), y(n), a(n), b(n), c(n) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> gap(0.5, 1.5);
    std::uniform_real_distribution<double> value(-100.0, 100.0);
    double t = 0.0;
    for (size_t i = 0; i < n; ++i) {
      x[i] = t;
      y[i] = value(rng);
      t += gap(rng);
    }
  }
  int32_t n() const { return static_cast<int32_t>(x.size()); }
  void Fit() {
    ComputeCubicSpline(n(), x.data(), y.data(), a.data(), b.data(), c.data());
  }
};

void BM_Fit(benchmark::State &state) {
  Data d(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    d.Fit();
    benchmark::DoNotOptimize(d.a.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Fit)->Arg(20)->Arg(1000)->Arg(1000000)->Unit(
    benchmark::kMicrosecond);

// The yardstick of the fit: a chain of 2*n dependent divisions, as many as
// the fit's two chains (the elimination and the back substitution) hold,
// each also waiting for one addition. The fit can go no faster than this
// while every value keeps its bits; BM_Fit/1000000 over this is the ratio
// bench/run.sh reports.
void BM_DivisionChain(benchmark::State &state) {
  const auto steps = 2 * state.range(0);
  double a = 3.0;
  const double b = 5.0, h = 1.5;
  for (auto _ : state) {
    for (int64_t i = 0; i < steps; ++i) {
      a = b - h / a;
    }
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_DivisionChain)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// One plot file's lines (500 or 501 samples) for a data set of n knots.
void BM_PlotSampling(benchmark::State &state) {
  Data d(static_cast<size_t>(state.range(0)));
  d.Fit();
  Discard sink;
  std::vector<knotfit::PlotSample> samples;
  for (auto _ : state) {
    knotfit::detail::SamplePlot(
        d.x.front(), d.x.back(),
        [&d](double t) {
          return getValue(t, d.n(), d.x.data(), d.y.data(), d.a.data(),
                          d.b.data(), d.c.data());
        },
        samples);
    WritePlotLines(sink, samples);
  }
}
BENCHMARK(BM_PlotSampling)
    ->Arg(20)
    ->Arg(2000000)
    ->Unit(benchmark::kMicrosecond);

// Values of mixed magnitude, as a trace holds them: abscissas in the millions
// next to slopes and coefficients of a few units.
std::vector<double> MixedValues() {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<double> values(4096);
  for (double &v : values) {
    v = static_cast<float>(unit(rng) * std::pow(10.0, rng() % 7));
  }
  return values;
}

void BM_FormatFixed6(benchmark::State &state) {
  const std::vector<double> values = MixedValues();
  char text[kFixed6Max];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatFixed6(text, values[i++ & 4095]));
  }
}
BENCHMARK(BM_FormatFixed6);

void BM_FormatPrintf(benchmark::State &state) {
  const std::vector<double> values = MixedValues();
  char text[400];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        std::snprintf(text, sizeof text, "%f", values[i++ & 4095]));
  }
}
BENCHMARK(BM_FormatPrintf);

void BM_ParseAtof(benchmark::State &state) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> value(-100.0, 100.0);
  std::vector<std::string> tokens(4096);
  for (auto &token : tokens) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", value(rng));
    token = text;
  }
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ParseAtof(tokens[i++ & 4095]));
  }
}
BENCHMARK(BM_ParseAtof);

} // namespace

BENCHMARK_MAIN();
