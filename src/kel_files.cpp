// The output writers: where a data set's files go under the KEL path, the
// binary coefficient table (with its console trace) and the plot file.
#include "big_endian.h"
#include "knotfit.h"

#include <cstdlib>
#include <string>

namespace {

constexpr const char *kModule = "knotfit";

// Reports a failed write and closes the stream; the file keeps what reached
// it so far.
int32_t WriteFailed(std::FILE *f) {
  std::fputs(">>>>> writing error\n", stderr);
  std::fclose(f);
  return -1;
}

} // namespace

std::FILE *open_KEL_file(const char *subdir, const char *name,
                         const char *mode) {
  // Resolved afresh on every call: an empty TROV_KEL is still a base (the
  // paths then start at the root), only an unset one falls back to HOME.
  std::string path;
  if (const char *kel = std::getenv("TROV_KEL")) {
    path = kel;
  } else if (const char *home = std::getenv("HOME")) {
    path = home;
    path += "/.TROV_KEL";
  } else {
    return nullptr;
  }
  path += '/';
  path += subdir;
  path += '/';
  path += name;
  return std::fopen(path.c_str(), mode);
}

int32_t SaveKEL(const char *name, int32_t n, const double *x, const double *y,
                const double *a, const double *b, const double *c) {
  std::FILE *f = open_KEL_file("CS", name, "w");
  if (f == nullptr) {
    std::fprintf(stderr, "%s(SaveKEL) error opening file\n", kModule);
    std::exit(-1);
  }
  std::fputs(" writing : \n ", stdout);

  unsigned char field[4];
  StoreBigEndian32(field, static_cast<uint32_t>(n));
  if (std::fwrite(field, 1, 4, f) != 4) {
    return WriteFailed(f);
  }
  // Records run from the last knot down to knot 0, five binary32 fields each;
  // the trace shows the narrowed value, exactly what the file holds.
  static const char *const kLabels[5] = {"\ttab(%f,", " %f) ->", " a(%f)",
                                         " b(%f)", " c(%f)\n"};
  for (int32_t i = n - 1; i >= 0; --i) {
    const double values[5] = {x[i], y[i], a[i], b[i], c[i]};
    for (int k = 0; k < 5; ++k) {
      const float narrowed = static_cast<float>(values[k]);
      std::printf(kLabels[k], static_cast<double>(narrowed));
      StoreBigEndian32(field, Binary32Bits(narrowed));
      if (std::fwrite(field, 1, 4, f) != 4) {
        return WriteFailed(f);
      }
    }
  }
  std::fputs("done\n", stdout);
  if (std::fclose(f) != 0) {
    std::fputs(">>>>> writing error\n", stderr);
    return -1;
  }
  return 0;
}

int32_t SavePlotFile(const char *name, int32_t n, const double *x,
                     const double *y, const double *a, const double *b,
                     const double *c) {
  // The step is narrowed to binary32 on purpose: the stored plot files were
  // sampled that way, which is why a range gives 500 or 501 lines.
  const float step = static_cast<float>((x[n - 1] - x[0]) / 500.0);
  std::FILE *f = open_KEL_file("CS/plot", name, "w");
  if (f == nullptr) {
    std::fprintf(stderr, "%s(SavePlotFile) error opening file\n", kModule);
    std::exit(-2);
  }
  for (double t = x[0]; t <= x[n - 1]; t = t + static_cast<double>(step)) {
    const double v = getValue(t, n, x, y, a, b, c);
    if (std::fprintf(f, "%f \t %f \n", t, v) < 0) {
      return WriteFailed(f);
    }
  }
  if (std::fclose(f) != 0) {
    std::fputs(">>>>> writing error\n", stderr);
    return -1;
  }
  return 0;
}
