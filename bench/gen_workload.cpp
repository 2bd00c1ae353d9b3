// Writes a benchmark input to standard output.
//   gen_workload w1   one data set of 2,000,000 points
//   gen_workload w2   20,000 data sets of 20 points each
// x grows by 0.5 to 1.5 from point to point, y lies within +-100, both printed
// "%.6f\t%.6f"; the same seed gives the same file.
#include <cstdio>
#include <cstring>
#include <random>

namespace {

void DataSet(std::mt19937_64 &rng, long points, const char *name) {
  std::uniform_real_distribution<double> gap(0.5, 1.5);
  std::uniform_real_distribution<double> value(-100.0, 100.0);
  double x = 0.0;
  for (long i = 0; i < points; ++i) {
    std::printf("%.6f\t%.6f\n", x, value(rng));
    x += gap(rng);
  }
  std::printf("NAME %s\n", name);
}

} // namespace

int main(int argc, char **argv) {
  std::mt19937_64 rng(20261206);
  if (argc == 2 && std::strcmp(argv[1], "w1") == 0) {
    DataSet(rng, 2000000, "w1");
  } else if (argc == 2 && std::strcmp(argv[1], "w2") == 0) {
    char name[16];
    for (int k = 0; k < 20000; ++k) {
      std::snprintf(name, sizeof name, "s%05d", k);
      DataSet(rng, 20, name);
    }
  } else {
    std::fputs("usage: gen_workload w1|w2 > input\n", stderr);
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
