// The output writers: where a data set's files go under the KEL path, the
// binary coefficient table (with its console trace) and the plot file.
#include "big_endian.h"
#include "kel_writers.h"
#include "knotfit.h"
#include "number_text.h"
#include "report.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr const char *kModule = "knotfit";

// Output is assembled in chunks of about this size and written in one call.
constexpr size_t kChunk = size_t{1} << 16;

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A writer that cannot open its file ends the whole run; what the run echoed
// and traced so far still reaches standard output first.
[[noreturn]] void EndRun(const char *writer, int status) {
  FlushStandardOutput();
  std::fprintf(stderr, "%s(%s) error opening file\n", kModule, writer);
  std::exit(status);
}

bool WriteAll(std::FILE *f, std::string &chunk) {
  const bool ok = std::fwrite(chunk.data(), 1, chunk.size(), f) == chunk.size();
  chunk.clear();
  return ok;
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

void AppendFixed6(std::string &out, double v) {
  char text[kFixed6Max];
  out.append(text, FormatFixed6(text, v));
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
  // Records run from the last knot down to knot 0, five big-endian binary32
  // fields each; the trace shows the narrowed values, exactly what the file
  // holds.
  static const char *const kOpen[5] = {"\ttab(", " ", " a(", " b(", " c("};
  static const char *const kClose[5] = {",", ") ->", ")", ")", ")\n"};
  std::string trace = " writing : \n ";
  std::string table;
  unsigned char field[4];
  StoreBigEndian32(field, static_cast<uint32_t>(n));
  table.append(reinterpret_cast<const char *>(field), 4);
  bool ok = true;
  for (int32_t i = n - 1; i >= 0 && ok; --i) {
    const double values[5] = {x[i], y[i], a[i], b[i], c[i]};
    for (int k = 0; k < 5; ++k) {
      const float narrowed = static_cast<float>(values[k]);
      trace += kOpen[k];
      AppendFixed6(trace, static_cast<double>(narrowed));
      trace += kClose[k];
      StoreBigEndian32(field, Binary32Bits(narrowed));
      table.append(reinterpret_cast<const char *>(field), 4);
    }
    if (trace.size() >= kChunk) {
      std::fwrite(trace.data(), 1, trace.size(), stdout);
      trace.clear();
    }
    if (table.size() >= kChunk) {
      ok = WriteAll(f, table);
    }
  }
  ok = ok && WriteAll(f, table);
  std::fwrite(trace.data(), 1, trace.size(), stdout);
  return ok;
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
      return "plot step " + ShortNumber(*step) + " does not advance x at " +
             ShortNumber(t);
    }
    t = next;
  }
  return {};
}

bool WritePlotLines(std::FILE *f, double step, int32_t n, const double *x,
                    const double *y, const double *a, const double *b,
                    const double *c) {
  std::string lines;
  for (double t = x[0]; t <= x[n - 1];) {
    AppendFixed6(lines, t);
    lines += " \t ";
    AppendFixed6(lines, getValue(t, n, x, y, a, b, c));
    lines += " \n";
    if (lines.size() >= kChunk && !WriteAll(f, lines)) {
      return false;
    }
    const double next = t + step;
    if (!(next > t)) { // PlotStep rules this out; never hang all the same
      WriteAll(f, lines);
      return false;
    }
    t = next;
  }
  return WriteAll(f, lines);
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
