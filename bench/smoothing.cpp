// The smoothing spline's core on 10^4, 10^5 and 10^6 noisy points (a sine
// plus Gaussian noise, fixed seed), with a given lambda and with GCV; and on
// as many readings taken twice at each x (ties), by GCV and by CV: the
// median wall and CPU time of a few runs and their range, how many lambdas
// were tried, and the peak resident memory of a process that holds the
// points and fits them once (the points alone take 16 bytes each). Last,
// what the band's variances (Smoothing::details) add to GCV's fit of 10^6
// tied readings: runs with and without them alternated, the median of the
// pairs' CPU ratios and their range.
//   smoothing_bench [RUNS [band]]   (band: the last alone)
// (smoothing_bench --once N RULE is the process whose memory is measured.)
#include "fit/smoothing_spline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <numbers>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

struct Points {
  std::vector<double> x, y;
};

// With ties, each x is read twice.
Points Noisy(size_t n, bool ties = false) {
  std::mt19937_64 rng(42);
  std::normal_distribution<double> noise(0.0, 0.1);
  Points p{std::vector<double>(n), std::vector<double>(n)};
  for (size_t i = 0; i < n; ++i) {
    p.x[i] = ties ? static_cast<double>(i / 2) / static_cast<double>(n / 2)
                  : static_cast<double>(i) / static_cast<double>(n);
    p.y[i] = std::sin(6.0 * std::numbers::pi * p.x[i]) + noise(rng);
  }
  return p;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// The runs: a lambda given, GCV and CV, on distinct x or on ties.
struct Case {
  const char *name;
  knotfit::Smoothing how;
  bool ties;
};
const Case kCases[] = {
    {"lambda", {knotfit::Smoothing::Rule::kLambda, 1e-6}, false},
    {"gcv", {}, false},
    {"gcv-ties", {}, true},
    {"cv-ties", {knotfit::Smoothing::Rule::kCv, 0.0}, true},
};

// One fit's CPU and wall time.
std::pair<double, double> FitOnce(const Points &p,
                                  const knotfit::Smoothing &how,
                                  knotfit::SmoothingFit &fit) {
  const double c0 = CpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  const std::string problem =
      knotfit::FitSmoothingSpline(p.x, p.y, {}, how, fit);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
          .count();
  if (!problem.empty()) {
    std::fprintf(stderr, "smoothing_bench: %s\n", problem.c_str());
    std::exit(1);
  }
  return {CpuSeconds() - c0, wall};
}

// The median and range of v, as "median (low-high)".
std::string Spread(std::vector<double> v, const char *format) {
  std::sort(v.begin(), v.end());
  char text[96];
  const std::string f =
      std::string(format) + " (" + format + "-" + format + ")";
  std::snprintf(text, sizeof text, f.c_str(), v[v.size() / 2], v.front(),
                v.back());
  return text;
}

// Fits runs times in this process; prints the medians and ranges.
void Time(size_t n, const Case &c, int runs) {
  const Points p = Noisy(n, c.ties);
  std::vector<double> wall, cpu;
  knotfit::SmoothingFit fit;
  for (int r = 0; r < runs; ++r) {
    const auto [seconds, elapsed] = FitOnce(p, c.how, fit);
    cpu.push_back(seconds);
    wall.push_back(elapsed);
  }
  std::printf("%8zu %-9s wall %s s  cpu %s s  %3d lambdas  "
              "(lambda %.4g, df %.2f)",
              n, c.name, Spread(wall, "%.3f").c_str(),
              Spread(cpu, "%.3f").c_str(), fit.evaluations, fit.lambda, fit.df);
  std::fflush(stdout);
}

// GCV on 10^6 tied readings with the band's variances and without,
// alternated, each into a fit of its own (its arrays new, as a program's
// are): the CPU ratio of each pair.
void BandCost(int runs) {
  const Points p = Noisy(1000000, true);
  std::vector<double> ratios, with, without;
  for (int r = 0; r < runs; ++r) {
    knotfit::SmoothingFit plain, detailed;
    without.push_back(FitOnce(p, {}, plain).first);
    with.push_back(
        FitOnce(p, {knotfit::Smoothing::Rule::kGcv, 0.0, true}, detailed)
            .first);
    ratios.push_back(with.back() / without.back());
  }
  std::printf("band (10^6 tied readings, GCV): cpu %s s with, %s s without, "
              "ratio %s\n",
              Spread(with, "%.3f").c_str(), Spread(without, "%.3f").c_str(),
              Spread(ratios, "%.3f").c_str());
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 4 && std::string(argv[1]) == "--once") {
    const Case &c = kCases[std::strtoul(argv[3], nullptr, 10)];
    const Points p = Noisy(std::strtoul(argv[2], nullptr, 10), c.ties);
    knotfit::SmoothingFit fit;
    return knotfit::FitSmoothingSpline(p.x, p.y, {}, c.how, fit).empty() ? 0
                                                                         : 1;
  }
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  if (argc > 2 && std::string(argv[2]) == "band") {
    BandCost(runs);
    return 0;
  }
  for (const size_t n : {10000u, 100000u, 1000000u}) {
    for (size_t k = 0; k < std::size(kCases); ++k) {
      Time(n, kCases[k], runs);
      // One fit alone in a fresh process, for its peak memory.
      const std::string size = std::to_string(n);
      const pid_t child = fork();
      if (child == 0) {
        execl("/proc/self/exe", argv[0], "--once", size.c_str(),
              std::to_string(k).c_str(), static_cast<char *>(nullptr));
        std::_Exit(127);
      }
      int status = 0;
      rusage usage{};
      if (child < 0 || wait4(child, &status, 0, &usage) != child ||
          status != 0) {
        std::perror("smoothing_bench");
        return 1;
      }
      std::printf("  peak %.0f MB, %.0f bytes a point\n",
                  static_cast<double>(usage.ru_maxrss) / 1024.0,
                  static_cast<double>(usage.ru_maxrss) * 1024.0 /
                      static_cast<double>(n));
    }
  }
  BandCost(runs);
  return 0;
}
