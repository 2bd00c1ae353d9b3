// The smoothing spline's core on 10^4, 10^5 and 10^6 noisy points (a sine
// plus Gaussian noise, fixed seed), with a given lambda and with GCV: the
// median wall and CPU time of a few runs, how many lambdas were tried, and
// the peak resident memory of a process that holds the points and fits
// them once (the points alone take 16 bytes each):
//   smoothing_bench [RUNS]
// (smoothing_bench --once N RULE is the process whose memory is measured.)
#include "fit/smoothing_spline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Points {
  std::vector<double> x, y;
};

Points Noisy(size_t n) {
  std::mt19937_64 rng(42);
  std::normal_distribution<double> noise(0.0, 0.1);
  Points p{std::vector<double>(n), std::vector<double>(n)};
  for (size_t i = 0; i < n; ++i) {
    p.x[i] = static_cast<double>(i) / static_cast<double>(n);
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

knotfit::Smoothing Rule(bool gcv) {
  return gcv ? knotfit::Smoothing{}
             : knotfit::Smoothing{knotfit::Smoothing::Rule::kLambda, 1e-6};
}

// Fits runs times in this process; prints the medians.
void Time(size_t n, const knotfit::Smoothing &how, int runs) {
  const Points p = Noisy(n);
  std::vector<double> wall, cpu;
  knotfit::SmoothingFit fit;
  for (int r = 0; r < runs; ++r) {
    const double c0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    const std::string problem =
        knotfit::FitSmoothingSpline(p.x, p.y, {}, how, fit);
    wall.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
            .count());
    cpu.push_back(CpuSeconds() - c0);
    if (!problem.empty()) {
      std::fprintf(stderr, "smoothing_bench: %s\n", problem.c_str());
      std::exit(1);
    }
  }
  std::sort(wall.begin(), wall.end());
  std::sort(cpu.begin(), cpu.end());
  std::printf("%8zu %-10s wall %7.3f s  cpu %7.3f s  %3d lambdas  "
              "(lambda %.4g, df %.2f)",
              n, how.rule == knotfit::Smoothing::Rule::kGcv ? "gcv" : "lambda",
              wall[wall.size() / 2], cpu[cpu.size() / 2], fit.evaluations,
              fit.lambda, fit.df);
  std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 4 && std::string(argv[1]) == "--once") {
    const Points p = Noisy(std::strtoul(argv[2], nullptr, 10));
    knotfit::SmoothingFit fit;
    return knotfit::FitSmoothingSpline(p.x, p.y, {}, Rule(argv[3][0] == 'g'),
                                       fit)
                   .empty()
               ? 0
               : 1;
  }
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  for (const size_t n : {10000u, 100000u, 1000000u}) {
    for (const bool gcv : {false, true}) {
      Time(n, Rule(gcv), runs);
      // One fit alone in a fresh process, for its peak memory.
      const std::string size = std::to_string(n);
      const pid_t child = fork();
      if (child == 0) {
        execl("/proc/self/exe", argv[0], "--once", size.c_str(),
              gcv ? "gcv" : "lambda", static_cast<char *>(nullptr));
        std::_Exit(127);
      }
      int status = 0;
      rusage usage{};
      if (child < 0 || wait4(child, &status, 0, &usage) != child ||
          status != 0) {
        std::perror("smoothing_bench");
        return 1;
      }
      std::printf("  peak %.0f MB\n",
                  static_cast<double>(usage.ru_maxrss) / 1024.0);
    }
  }
  return 0;
}
