// The C++ side of bench/python_api.py: reads n, then the n doubles of x, of
// y and of the abscissas t from a file, fits the spline through (x, y) with
// the library, evaluates it at every t, and prints the seconds that work took
// (reading excluded) and the sum of the values (so that none is skipped):
//   api_fit_eval FILE
#include "knotfit/spline.hpp"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

int main(int argc, char **argv) {
  std::FILE *in = argc == 2 ? std::fopen(argv[1], "rb") : nullptr;
  std::int64_t n = 0;
  if (in == nullptr || std::fread(&n, sizeof n, 1, in) != 1 || n < 2) {
    std::fputs("usage: api_fit_eval FILE (n, then x, y and t as doubles)\n",
               stderr);
    return 2;
  }
  const auto size = static_cast<std::size_t>(n);
  std::vector<double> x(size), y(size), t(size);
  for (std::vector<double> *v : {&x, &y, &t}) {
    if (std::fread(v->data(), sizeof(double), size, in) != size) {
      std::fputs("api_fit_eval: the file is too short\n", stderr);
      return 2;
    }
  }
  std::fclose(in);

  const auto start = std::chrono::steady_clock::now();
  const knotfit::Spline s = knotfit::fit(x, y);
  std::vector<double> values(size);
  for (std::size_t i = 0; i < size; ++i) {
    values[i] = s.value(t[i]);
  }
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;

  double sum = 0.0;
  for (const double v : values) {
    sum += v;
  }
  std::printf("%.6f %.17g\n", took.count(), sum);
  return 0;
}
