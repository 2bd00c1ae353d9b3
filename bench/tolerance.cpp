// Tables within a stated error, against greedy worst-point insertion: for
// each curve and each bound E (1e-3, 1e-4 and 1e-5 of its y range), the
// points, the knots and bytes of the classic table, the error reached at
// the data (checked here again on the table as stored), the median time of
// a few fits, and the knots of the greedy reference (from the two end
// points, the worst data point becomes a knot, not-a-knot through the
// chosen ones, checked in binary32). Then the speed targets: a sum of two
// sines and a slope at 10^5 and 10^6 points, 1e-4 of the range; the
// relative bound against the absolute one; a smoothing fit of a noisy sine
// at 10^5 points followed within 0.1% of the range.
//   tolerance_bench [RUNS]        (default 3)
//   tolerance_bench --once N      one fit of the 10^5-style curve at N
//                                 points, for the peak memory
//   tolerance_bench --noise N [RUNS]
//                                 white noise and a noisy sine of N points
//                                 for every method that takes a bound,
//                                 every form and E from 1e-6 to 50% of the
//                                 y range: knots, median and spread of the
//                                 times, the peak memory
//   tolerance_bench --chamber [DRAWS]
//                                 a climate chamber's log drawn DRAWS
//                                 times (default 200) at four levels of
//                                 noise: how far the table is from the
//                                 sensor's true curve between the steps
//   tolerance_bench --digest      one line per fit of many curves, methods,
//                                 forms and bounds: knots, met, the error,
//                                 where and what was allowed (exact), and a
//                                 hash of every field's bits; two builds
//                                 whose digests are equal made the same
//                                 tables (diff their outputs)
#include "fit/tolerance_knots.h"
#include "knotfit/spline.hpp"
#include "knotfit/table.hpp"
#include "table/table_encoding.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using knotfit::ToleranceFit;

struct Curve {
  std::string name;
  std::vector<double> x, y;
};

Curve Sampled(std::string name, size_t n, double lo, double hi,
              double (*f)(double)) {
  Curve c{std::move(name), std::vector<double>(n), std::vector<double>(n)};
  for (size_t i = 0; i < n; ++i) {
    c.x[i] =
        lo + (hi - lo) * static_cast<double>(i) / static_cast<double>(n - 1);
    c.y[i] = f(c.x[i]);
  }
  return c;
}

// An NTC thermistor, 10 kOhm at 25 C, beta 3950, from -40 C to 125 C.
double Thermistor(double celsius) {
  return 10000.0 * std::exp(3950.0 * (1.0 / (celsius + 273.15) - 1.0 / 298.15));
}

// A smooth signal of 108,000 samples with the character of a long
// recording: slow and fast cycles of different amplitudes and a drift.
double Signal(double t) {
  return 20.0 + 0.00005 * t + 8.0 * std::sin(t / 4000.0) +
         3.0 * std::sin(t / 700.0 + 1.0) + 0.5 * std::sin(t / 90.0 + 2.0);
}

// Two sines and a slope, the speed target's curve.
double TwoSines(double t) {
  return std::sin(2.0 * std::numbers::pi * 3.0 * t) +
         0.5 * std::sin(2.0 * std::numbers::pi * 7.0 * t + 0.3) + 0.8 * t;
}

std::vector<Curve> Curves() {
  std::vector<Curve> curves;
  curves.push_back(Sampled("thermistor R(T)", 1001, -40.0, 125.0, Thermistor));
  Curve inverse{"thermistor T(R)", {}, {}};
  for (size_t i = curves[0].x.size(); i-- > 0;) {
    inverse.x.push_back(curves[0].y[i]);
    inverse.y.push_back(curves[0].x[i]);
  }
  curves.push_back(std::move(inverse));
  curves.push_back(Sampled("sin, one period", 1001, 0.0, 2.0 * std::numbers::pi,
                           [](double t) { return std::sin(t); }));
  curves.push_back(
      Sampled("log", 1001, 0.01, 10.0, [](double t) { return std::log(t); }));
  curves.push_back(Sampled("tanh step", 1001, -1.0, 1.0,
                           [](double t) { return std::tanh(20.0 * t); }));
  Curve noisy = Sampled("noisy sensor", 1001, 0.0, 100.0, [](double t) {
    return 1.0 + 0.02 * t + 0.3 * std::sin(t / 15.0);
  });
  std::mt19937_64 rng(7);
  std::normal_distribution<double> noise(0.0, 2e-5);
  for (double &v : noisy.y) {
    v += noise(rng);
  }
  curves.push_back(std::move(noisy));
  curves.push_back(Sampled("signal", 108000, 0.0, 107999.0, Signal));
  return curves;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since)
      .count();
}

// The largest |T(x_i) - y_i| of the table as read back from its bytes.
double ReadBackError(const ToleranceFit &fit, const Curve &c) {
  std::vector<unsigned char> bytes(4 + 20 * fit.x.size());
  struct Out {
    std::vector<unsigned char> &b;
    size_t at = 0;
    char *Room(size_t) { return reinterpret_cast<char *>(b.data() + at); }
    void Commit(char *end) {
      at = static_cast<size_t>(reinterpret_cast<unsigned char *>(end) -
                               b.data());
    }
    bool ok() const { return true; }
  } out{bytes};
  knotfit::EncodeTable(knotfit::FieldsOf(fit), out, [](const float *) {});
  const knotfit::Table table = knotfit::read_table(bytes);
  double worst = 0.0;
  for (size_t i = 0; i < c.x.size(); ++i) {
    worst = std::max(worst, std::fabs(table.value(c.x[i]) - c.y[i]));
  }
  return worst;
}

double Range(const Curve &c) {
  const auto [lo, hi] = std::minmax_element(c.y.begin(), c.y.end());
  return *hi - *lo;
}

template <class F> double MedianSeconds(int runs, F &&f) {
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    f();
    times.push_back(Seconds(start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Gaussian white noise of standard deviation 1, and the same on a sine of
// ten periods with amplitude 10, N points, fixed seeds.
std::vector<Curve> NoiseCurves(size_t n) {
  std::vector<Curve> curves;
  curves.push_back(Sampled("white noise", n, 0.0, static_cast<double>(n - 1),
                           [](double) { return 0.0; }));
  curves.push_back(Sampled("noisy sine", n, 0.0, 1.0, [](double t) {
    return 10.0 * std::sin(20.0 * std::numbers::pi * t);
  }));
  std::mt19937_64 rng(3);
  std::normal_distribution<double> noise(0.0, 1.0);
  for (Curve &c : curves) {
    for (double &v : c.y) {
      v += noise(rng);
    }
  }
  return curves;
}

// Every method that takes a bound, and every form.
constexpr knotfit::Method kBoundMethods[] = {
    knotfit::Method::kNotAKnot, knotfit::Method::kPchip,
    knotfit::Method::kAkima, knotfit::Method::kMakima,
    knotfit::Method::kSteffen};
constexpr knotfit::TableForm kForms[] = {knotfit::TableForm::kClassic,
                                         knotfit::TableForm::kOffset,
                                         knotfit::TableForm::kDouble};

int Noise(size_t n, int runs) {
  std::printf("%-12s %-10s %-7s %8s %8s %4s %9s %9s\n", "curve", "method",
              "form", "E/range", "knots", "met", "median s", "spread s");
  double slowest = 0.0;
  for (const Curve &c : NoiseCurves(n)) {
    for (const knotfit::Method method : kBoundMethods) {
      for (const knotfit::TableForm form : kForms) {
        for (const double relative : {1e-6, 1e-2, 0.5}) {
          const double e = relative * Range(c);
          ToleranceFit fit;
          std::vector<double> times;
          for (int r = 0; r < runs; ++r) {
            const auto start = std::chrono::steady_clock::now();
            fit = knotfit::FitWithinTolerance({method}, static_cast<int32_t>(n),
                                              c.x.data(), c.y.data(), e, form);
            times.push_back(Seconds(start));
          }
          std::sort(times.begin(), times.end());
          const double median = times[times.size() / 2];
          slowest = std::max(slowest, times.back());
          std::printf("%-12s %-10s %-7s %8.0e %8zu %4s %9.3f %9.3f\n",
                      c.name.c_str(),
                      std::string(knotfit::MethodName(method)).c_str(),
                      std::string(knotfit::TableFormName(form)).c_str(),
                      relative, fit.x.size(), fit.met ? "yes" : "no", median,
                      times.back() - times.front());
        }
      }
    }
  }
  std::printf("%zu points: slowest fit %.3f s, peak %ld kB\n", n, slowest,
              PeakKilobytes());
  return 0;
}

// FNV-1a over the bits of every field of the fit.
uint64_t Hash(const ToleranceFit &fit) {
  uint64_t h = 14695981039346656037ull;
  for (const std::vector<double> *v :
       {&fit.x, &fit.y, &fit.a, &fit.b, &fit.c}) {
    for (const double value : *v) {
      unsigned char bytes[sizeof value];
      std::memcpy(bytes, &value, sizeof value);
      for (const unsigned char b : bytes) {
        h = (h ^ b) * 1099511628211ull;
      }
    }
  }
  return h;
}

void PrintDigest(const std::string &what, const ToleranceFit &fit) {
  std::printf("%-40s %6zu %d %a %a %a %016llx\n", what.c_str(), fit.x.size(),
              fit.met ? 1 : 0, fit.error, fit.worst_at, fit.allowed,
              static_cast<unsigned long long>(Hash(fit)));
}

int Digest() {
  std::vector<Curve> curves = Curves();
  for (Curve &c : NoiseCurves(3000)) {
    curves.push_back(std::move(c));
  }
  curves.push_back(Sampled("two sines", 100000, 0.0, 1.0, TwoSines));
  for (const Curve &c : curves) {
    const auto n = static_cast<int32_t>(c.x.size());
    // Only the default method in the classic form on the long curves.
    const bool long_curve = n > 10000;
    for (const knotfit::Method method : kBoundMethods) {
      for (const knotfit::TableForm form : kForms) {
        if (long_curve && (method != kBoundMethods[0] || form != kForms[0])) {
          continue;
        }
        const std::string name = c.name + " " + knotfit::MethodName(method) +
                                 " " + knotfit::TableFormName(form);
        for (const double relative : {1e-2, 1e-3, 1e-4, 1e-5}) {
          const knotfit::Bound bound{relative * Range(c)};
          char what[32];
          std::snprintf(what, sizeof what, " %.0e", relative);
          PrintDigest(name + what,
                      knotfit::FitWithinTolerance({method}, n, c.x.data(),
                                                  c.y.data(), bound, form));
          if (!long_curve) {
            PrintDigest(name + what + " greedy",
                        knotfit::GreedyKnots({method}, n, c.x.data(),
                                             c.y.data(), bound, form));
          }
        }
        if (std::all_of(c.y.begin(), c.y.end(),
                        [](double v) { return v != 0.0; })) {
          PrintDigest(name + " R 1e-4",
                      knotfit::FitWithinTolerance(
                          {method}, n, c.x.data(), c.y.data(),
                          knotfit::Bound{1e-6 * Range(c), 1e-4}, form));
        }
      }
    }
  }
  const Curve noisy = NoiseCurves(20000)[1];
  const knotfit::Spline f = knotfit::smooth(noisy.x, noisy.y);
  for (const double relative : {1e-2, 1e-3, 1e-4}) {
    char what[48];
    std::snprintf(what, sizeof what, "smooth, noisy sine %.0e", relative);
    PrintDigest(what, knotfit::FollowWithinTolerance(
                          f, knotfit::Bound{relative * Range(noisy)}));
  }
  return 0;
}

// A climate chamber's log many times over: a sensor whose true curve is
// T + 0.3 + 0.8 sin(T / 25), read 3 times at each of 34 steps 5 K apart
// with Gaussian noise of standard deviation s, the means of each step, at
// E = 0.05 K. For each s, over DRAWS draws: in how many the table is within
// 2 E of the true curve from the first to the last step (sampled every
// 0.01 K), in how many the fit through every mean is, in how many F is but
// the table is not; the table's distance from the curve (median, 90th
// percentile, largest) and its median knots.
int Chamber(int draws) {
  const auto sensor = [](double t) {
    return t + 0.3 + 0.8 * std::sin(t / 25.0);
  };
  const double e = 0.05;
  std::printf("%6s %13s %13s %13s %8s %8s %8s %6s\n", "noise", "table <= 2E",
              "F <= 2E", "F but not T", "median", "p90", "largest", "knots");
  for (const double sd : {0.03, 0.04, 0.05, 0.06}) {
    int table_within = 0, fit_within = 0, only_fit = 0;
    std::vector<double> offs;
    std::vector<size_t> knots;
    for (int draw = 1; draw <= draws; ++draw) {
      std::mt19937_64 rng(static_cast<uint64_t>(draw));
      std::normal_distribution<double> noise(0.0, sd);
      std::vector<double> x, y;
      for (int t = -40; t <= 125; t += 5) {
        double sum = 0.0;
        for (int reading = 0; reading < 3; ++reading) {
          sum += sensor(t) + noise(rng);
        }
        x.push_back(t);
        y.push_back(sum / 3.0);
      }
      const auto n = static_cast<int32_t>(x.size());
      const ToleranceFit fit =
          knotfit::FitWithinTolerance({}, n, x.data(), y.data(), e);
      const knotfit::Spline table = knotfit::SplineOf(fit);
      const knotfit::Spline every = knotfit::fit(x, y);
      double off = 0.0, fit_off = 0.0;
      for (int k = 0; k <= 16500; ++k) {
        const double t = -40.0 + 0.01 * k;
        off = std::max(off, std::fabs(table.value(t) - sensor(t)));
        fit_off = std::max(fit_off, std::fabs(every.value(t) - sensor(t)));
      }
      table_within += off <= 2 * e;
      fit_within += fit_off <= 2 * e;
      only_fit += fit_off <= 2 * e && off > 2 * e;
      offs.push_back(off);
      knots.push_back(fit.x.size());
    }
    std::sort(offs.begin(), offs.end());
    std::sort(knots.begin(), knots.end());
    const auto at = [&](double q) {
      return offs[static_cast<size_t>(q * static_cast<double>(draws - 1))];
    };
    std::printf("%6.2f %9d/%-3d %9d/%-3d %9d/%-3d %8.3f %8.3f %8.3f %6zu\n", sd,
                table_within, draws, fit_within, draws, only_fit, fit_within,
                at(0.5), at(0.9), offs.back(), knots[knots.size() / 2]);
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && std::string(argv[1]) == "--chamber") {
    return Chamber(argc > 2 ? std::atoi(argv[2]) : 200);
  }
  if (argc == 2 && std::string(argv[1]) == "--digest") {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return Digest();
  }
  if (argc >= 3 && std::string(argv[1]) == "--noise") {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return Noise(static_cast<size_t>(std::atol(argv[2])),
                 argc > 3 ? std::atoi(argv[3]) : 3);
  }
  if (argc == 3 && std::string(argv[1]) == "--once") {
    const auto n = static_cast<size_t>(std::atol(argv[2]));
    const Curve c = Sampled("two sines", n, 0.0, 1.0, TwoSines);
    const ToleranceFit fit = knotfit::FitWithinTolerance(
        {}, static_cast<int32_t>(n), c.x.data(), c.y.data(), 1e-4 * Range(c));
    std::printf("%zu points -> %zu knots, peak %ld kB\n", n, fit.x.size(),
                PeakKilobytes());
    return 0;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  std::printf("%-16s %8s %6s %7s %9s %10s %9s %7s\n", "curve", "E/range",
              "points", "knots", "bytes", "error/E", "time s", "greedy");
  int fewer = 0, pairs = 0, over = 0;
  for (const Curve &c : Curves()) {
    const auto n = static_cast<int32_t>(c.x.size());
    for (const double relative : {1e-3, 1e-4, 1e-5}) {
      const double e = relative * Range(c);
      ToleranceFit fit;
      const double time = MedianSeconds(runs, [&] {
        fit = knotfit::FitWithinTolerance({}, n, c.x.data(), c.y.data(), e);
      });
      const ToleranceFit greedy =
          knotfit::GreedyKnots({}, n, c.x.data(), c.y.data(), e);
      const double error = ReadBackError(fit, c);
      ++pairs;
      fewer += fit.x.size() < greedy.x.size() ? 1 : 0;
      over += fit.x.size() > greedy.x.size() || !(error <= e) ? 1 : 0;
      std::printf("%-16s %8.0e %6d %7zu %9zu %10.3f %9.4f %7zu%s\n",
                  c.name.c_str(), relative, n, fit.x.size(),
                  4 + 20 * fit.x.size(), error / e, time, greedy.x.size(),
                  greedy.met ? "" : " (not met)");
    }
  }
  std::printf("fewer knots than greedy on %d of %d pairs; %d over\n", fewer,
              pairs, over);
  for (const size_t n : {size_t{100000}, size_t{1000000}}) {
    const Curve c = Sampled("two sines", n, 0.0, 1.0, TwoSines);
    ToleranceFit fit;
    const double time = MedianSeconds(runs, [&] {
      fit = knotfit::FitWithinTolerance({}, static_cast<int32_t>(n), c.x.data(),
                                        c.y.data(), 1e-4 * Range(c));
    });
    std::printf("two sines %7zu points at 1e-4: %zu knots, error/E %.3f, "
                "%.3f s\n",
                n, fit.x.size(), fit.error / (1e-4 * Range(c)), time);
  }
  // The relative bound against the absolute one on each curve of the
  // table: E = 1e-4 of the range, and R = 1e-4 alone.
  for (const Curve &c : Curves()) {
    const auto n = static_cast<int32_t>(c.x.size());
    ToleranceFit absolute, relative;
    const double e = MedianSeconds(runs, [&] {
      absolute = knotfit::FitWithinTolerance({}, n, c.x.data(), c.y.data(),
                                             knotfit::Bound{1e-4 * Range(c)});
    });
    const double r = MedianSeconds(runs, [&] {
      relative = knotfit::FitWithinTolerance({}, n, c.x.data(), c.y.data(),
                                             knotfit::Bound{0.0, 1e-4});
    });
    std::printf("%-16s E %7zu knots %.4f s, R %7zu knots %.4f s%s\n",
                c.name.c_str(), absolute.x.size(), e, relative.x.size(), r,
                relative.met ? "" : " (not met)");
  }
  // A smoothing fit followed within 0.1% of the range: 10^5 points of a
  // noisy sine (ten periods, amplitude 10, noise 1), GCV, against greedy
  // insertion on the smoothing fit's values.
  const Curve noisy = NoiseCurves(100000)[1];
  const knotfit::Spline f = knotfit::smooth(noisy.x, noisy.y);
  const double e = 1e-3 * Range(noisy);
  ToleranceFit follow;
  const double time = MedianSeconds(runs, [&] {
    follow = knotfit::FollowWithinTolerance(f, knotfit::Bound{e});
  });
  const ToleranceFit greedy = knotfit::GreedyKnots(
      {}, static_cast<int32_t>(f.size()), f.x().data(), f.y().data(), e);
  std::printf("smooth, noisy sine 100000 points at 0.1%%: %zu knots (greedy "
              "%zu%s), %s, %.3f s\n",
              follow.x.size(), greedy.x.size(), greedy.met ? "" : " not met",
              follow.met ? "met" : "not met", time);
  return 0;
}
