// The output writers: where a data set's files go under the KEL path, the
// binary coefficient table (with its console trace) and the plot file.
#include "big_endian.h"
#include "checks.h"
#include "chunk_writer.h"
#include "exact_math.h"
#include "file.h"
#include "kel.h"
#include "kel_writers.h"
#include "knotfit.h"
#include "number_text.h"
#include "report.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char *kModule = "knotfit";

// A writer that cannot open its file ends the whole run; what the run echoed
// and traced so far still reaches standard output first.
[[noreturn]] void EndRun(const char *writer, int status) {
  FlushStandardOutput();
  std::fprintf(stderr, "%s(%s) error opening file\n", kModule, writer);
  std::exit(status);
}

// Closes the file. Data still buffered is written now, so a close can fail
// too: false when anything written did not reach the file.
bool Close(File &f) {
  return std::fclose(f.release()) == 0;
}

int32_t WriteFailed(File &f) {
  std::fputs(">>>>> writing error\n", stderr);
  f.reset(); // the file keeps what reached it
  return -1;
}

// Copies a string literal (without its NUL) to out; the size is known when
// compiling, so no library call is made per label.
template <size_t N> char *Put(char *out, const char (&literal)[N]) {
  std::memcpy(out, literal, N - 1);
  return out + N - 1;
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

bool WriteCoefficientTable(std::FILE *f, int32_t n, const double *x,
                           const double *y, const double *a, const double *b,
                           const double *c) {
  ChunkWriter trace(stdout);
  ChunkWriter table(f);
  trace.Append(" writing : \n ");
  auto *count = reinterpret_cast<unsigned char *>(table.Room(4));
  StoreBigEndian32(count, static_cast<uint32_t>(n));
  table.Commit(reinterpret_cast<char *>(count + 4));
  // Records run from the last knot down to knot 0, five big-endian binary32
  // fields each; the trace shows the narrowed values, exactly what the file
  // holds: "\ttab(x, y) -> a(a) b(b) c(c)\n".
  for (int32_t i = n - 1; i >= 0 && table.ok(); --i) {
    const float fields[5] = {static_cast<float>(x[i]), static_cast<float>(y[i]),
                             static_cast<float>(a[i]), static_cast<float>(b[i]),
                             static_cast<float>(c[i])};
    auto *record = reinterpret_cast<unsigned char *>(table.Room(20));
    for (size_t k = 0; k < 5; ++k) {
      StoreBigEndian32(record + 4 * k, Binary32Bits(fields[k]));
    }
    table.Commit(reinterpret_cast<char *>(record + 20));

    char *text = trace.Room(5 * kFixed6Max + 40);
    text = Put(text, "\ttab(");
    text = FormatFixed6(text, static_cast<double>(fields[0]));
    text = Put(text, ", ");
    text = FormatFixed6(text, static_cast<double>(fields[1]));
    text = Put(text, ") -> a(");
    text = FormatFixed6(text, static_cast<double>(fields[2]));
    text = Put(text, ") b(");
    text = FormatFixed6(text, static_cast<double>(fields[3]));
    text = Put(text, ") c(");
    text = FormatFixed6(text, static_cast<double>(fields[4]));
    trace.Commit(Put(text, ")\n"));
  }
  trace.Flush();
  return table.Flush();
}

std::string PlotStep(int32_t n, const double *x, double *step) {
  // The step is narrowed to binary32 on purpose: the stored plot files were
  // sampled that way, which is why a range gives 500 or 501 lines. The
  // running abscissa stays a double.
  *step = static_cast<float>((x[n - 1] - x[0]) / 500.0);
  // A step that narrows to zero, or one that is lost when added to a large
  // abscissa (1e15 + 0.002 == 1e15), would never leave the sampling loop.
  // Walking the abscissas once costs a few hundred additions and finds any
  // such stall before a file is opened.
  for (double t = x[0]; t <= x[n - 1];) {
    const double next = t + *step;
    if (!(next > t)) {
      return "plot step " + knotfit::ShortNumber(*step) +
             " does not advance x at " + knotfit::ShortNumber(t);
    }
    t = next;
  }
  return {};
}

bool WritePlotLines(std::FILE *f, double step, int32_t n, const double *x,
                    const double *y, const double *a, const double *b,
                    const double *c) {
  ChunkWriter lines(f);
  for (double t = x[0]; t <= x[n - 1] && lines.ok();) {
    // "%f \t %f \n"
    char *text = lines.Room(2 * kFixed6Max + 8);
    text = FormatFixed6(text, t);
    text = Put(text, " \t ");
    text = FormatFixed6(text, getValue(t, n, x, y, a, b, c));
    lines.Commit(Put(text, " \n"));
    const double next = t + step;
    if (!(next > t)) { // PlotStep rules this out; never hang all the same
      lines.Flush();
      return false;
    }
    t = next;
  }
  return lines.Flush();
}

int32_t SaveKEL(const char *name, int32_t n, const double *x, const double *y,
                const double *a, const double *b, const double *c) {
  File f(open_KEL_file("CS", name, "w"));
  if (!f) {
    EndRun("SaveKEL", -1);
  }
  if (!WriteCoefficientTable(f.get(), n, x, y, a, b, c) || !Close(f)) {
    return WriteFailed(f);
  }
  std::fputs("done\n", stdout);
  return 0;
}

int32_t SavePlotFile(const char *name, int32_t n, const double *x,
                     const double *y, const double *a, const double *b,
                     const double *c) {
  if (n < 1) {
    return -1;
  }
  double step = 0.0;
  const std::string problem = PlotStep(n, x, &step);
  if (!problem.empty()) {
    ReportDataSet(name, problem, "no plot file written");
    return -1;
  }
  File f(open_KEL_file("CS/plot", name, "w"));
  if (!f) {
    EndRun("SavePlotFile", -2);
  }
  if (!WritePlotLines(f.get(), step, n, x, y, a, b, c) || !Close(f)) {
    return WriteFailed(f);
  }
  return 0;
}
