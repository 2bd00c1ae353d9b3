// The output writers: where a data set's files go under the KEL path, the
// binary coefficient table (with its console trace) and the plot file.
#include "big_endian.h"
#include "checks.h"
#include "chunk_writer.h"
#include "exact_math.h"
#include "kel.h"
#include "kel_writers.h"
#include "knotfit.h"
#include "number_text.h"
#include "plot_samples.h"
#include "report.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char *kModule = "knotfit";

// Why a file could not be opened, as the line that follows the writer's own
// message: the path and the system's reason.
std::string OpenFailure(const ReplacementFile &f) {
  const KelProblem &p = f.problem();
  switch (p.kind) {
  case KelProblem::kNoBase:
    return "no KEL path: neither TROV_KEL nor HOME is set (or run with "
           "--kel DIR)";
  case KelProblem::kTopDirectory:
  case KelProblem::kSubdirectory:
    return "cannot open directory '" + Quoted(p.path) +
           "': " + std::strerror(p.error);
  case KelProblem::kNone:
    break;
  }
  return "cannot create '" + Quoted(f.path()) +
         "': " + std::strerror(f.error());
}

// A file that cannot be opened in CS or CS/plot itself ends the whole run;
// what the run echoed and traced so far still reaches standard output first.
// One inside a subdirectory of the name only fails its data set.
bool EndsTheRun(const ReplacementFile &f) {
  switch (f.problem().kind) {
  case KelProblem::kNoBase:
  case KelProblem::kTopDirectory:
    return true;
  case KelProblem::kSubdirectory:
    return false;
  case KelProblem::kNone:
    break;
  }
  return f.target().in_top;
}

[[noreturn]] void EndRun(Console &console, const char *writer, int status,
                         const ReplacementFile &f) {
  console.Message(std::string(kModule) + "(" + writer + ") error opening file");
  console.Message("knotfit: " + OpenFailure(f));
  if (!f.problem().missing.empty()) {
    console.Message(MkdirHint({f.problem().missing}));
  }
  console.Flush();
  std::exit(status);
}

// Copies a string literal (without its NUL) to out; the size is known when
// compiling, so no library call is made per label.
template <size_t N> char *Put(char *out, const char (&literal)[N]) {
  std::memcpy(out, literal, N - 1);
  return out + N - 1;
}

} // namespace

std::unique_ptr<ReplacementFile>
open_KEL_file(const char *subdir, const char *name, const char * /*mode*/) {
  KelProblem problem;
  KelTarget target = LocateKelTarget(subdir, name, problem);
  return OpenReplacement(std::move(target), problem);
}

std::unique_ptr<ReplacementFile> OpenReplacement(KelTarget target,
                                                 const KelProblem &problem) {
  auto f = std::make_unique<ReplacementFile>(std::move(target), problem);
  f->Create();
  return f;
}

bool WriteCoefficientTable(Sink &file, Sink *trace_to, const TableForm &form) {
  const int32_t n = form.n();
  Discard none;
  ChunkWriter trace(trace_to != nullptr ? *trace_to : none);
  // A long table goes out in chunks of a mebibyte, a short one in one write.
  ChunkWriter table(
      file, std::min(size_t{4} + 20 * static_cast<size_t>(n), size_t{1} << 20));
  trace.Append(" writing : \n ");
  auto *count = reinterpret_cast<unsigned char *>(table.Room(4));
  StoreBigEndian32(count, static_cast<uint32_t>(n));
  table.Commit(reinterpret_cast<char *>(count + 4));
  // Records run from the last knot down to knot 0, five big-endian binary32
  // fields each; the trace shows the narrowed values, exactly what the file
  // holds: "\ttab(x, y) -> a(a) b(b) c(c)\n".
  for (int32_t i = n - 1; i >= 0 && table.ok(); --i) {
    float fields[5];
    form.Fields(i, fields);
    auto *record = reinterpret_cast<unsigned char *>(table.Room(20));
    for (size_t k = 0; k < 5; ++k) {
      StoreBigEndian32(record + 4 * k, Binary32Bits(fields[k]));
    }
    table.Commit(reinterpret_cast<char *>(record + 20));
    if (trace_to == nullptr) {
      continue; // quiet: formatting the trace is most of a long run's time
    }
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

bool WritePlotLines(Sink &file,
                    const std::vector<knotfit::PlotSample> &samples) {
  ChunkWriter lines(file);
  for (const knotfit::PlotSample &sample : samples) {
    // "%f \t %f \n"
    char *text = lines.Room(2 * kFixed6Max + 8);
    text = FormatFixed6(text, sample.t);
    text = Put(text, " \t ");
    text = FormatFixed6(text, sample.value);
    lines.Commit(Put(text, " \n"));
  }
  return lines.Flush();
}

int32_t SaveTable(const char *name, const TableForm &form, const Run &run) {
  KelProblem problem;
  KelTarget target = LocateKelTarget("CS", name, problem);
  return SaveTable(name, std::move(target), problem, form, run);
}

int32_t SaveTable(const char *name, KelTarget target, const KelProblem &problem,
                  const TableForm &form, const Run &run) {
  Console &console = run.console;
  const auto f = OpenReplacement(std::move(target), problem);
  if (!f->is_open()) {
    if (EndsTheRun(*f)) {
      EndRun(console, "SaveKEL", -1, *f);
    }
    ReportDataSet(console, name, OpenFailure(*f), "skipped");
    return -1;
  }
  Sink *trace = console.quiet() ? nullptr : &console.out();
  if (!WriteCoefficientTable(*f, trace, form) || !f->Commit()) {
    console.Message(">>>>> writing error");
    ReportDataSet(console, name,
                  "cannot write '" + Quoted(f->path()) +
                      "': " + std::strerror(f->error()),
                  f->had_previous() ? "previous file kept" : "no file written");
    return -1;
  }
  console.out().Write("done\n", 5);
  return 0;
}

int32_t SaveKEL(const char *name, int32_t n, const double *x, const double *y,
                const double *a, const double *b, const double *c,
                const Run &run) {
  return SaveTable(name, TableForm(n, x, y, a, b, c), run);
}

int32_t SaveKEL(const char *name, int32_t n, const double *x, const double *y,
                const double *a, const double *b, const double *c) {
  Console console;
  return SaveKEL(name, n, x, y, a, b, c, Run{console});
}

int32_t SavePlotFile(const char *name, int32_t n, const double *x,
                     const double *y, const double *a, const double *b,
                     const double *c, const Run &run) {
  KelProblem problem;
  KelTarget target = LocateKelTarget("CS/plot", name, problem);
  return SavePlot(name, std::move(target), problem, n, x, y, a, b, c, run);
}

int32_t SavePlot(const char *name, KelTarget target, const KelProblem &located,
                 int32_t n, const double *x, const double *y, const double *a,
                 const double *b, const double *c, const Run &run) {
  Console &console = run.console;
  if (n < 1) {
    return -1;
  }
  // Called once the data set's new table is in place: a plot that cannot be
  // written must not leave the old plot file beside it.
  auto drop_old_plot = [name, &console](const KelTarget &plot,
                                        const std::string &problem) {
    const char *consequence = "no plot file written";
    switch (plot ? RemoveStaleFile(plot) : Removal::kNothingThere) {
    case Removal::kNothingThere:
      break;
    case Removal::kRemoved:
      consequence = "no plot file written, old plot file removed";
      break;
    case Removal::kFailed:
      consequence = "no plot file written, old plot file NOT removed";
      break;
    }
    ReportDataSet(console, name, problem, consequence);
  };
  // The samples are taken before the file is opened: a step that cannot
  // advance across the range fails the plot without touching anything.
  std::vector<knotfit::PlotSample> samples;
  const std::string problem = knotfit::SamplePlot(n, x, y, a, b, c, samples);
  if (!problem.empty()) {
    drop_old_plot(target, problem);
    return -1;
  }
  const auto f = OpenReplacement(std::move(target), located);
  if (!f->is_open()) {
    if (EndsTheRun(*f)) {
      EndRun(console, "SavePlotFile", -2, *f);
    }
    drop_old_plot(f->target(), OpenFailure(*f));
    return -1;
  }
  if (!WritePlotLines(*f, samples) || !f->Commit()) {
    console.Message(">>>>> writing error");
    drop_old_plot(f->target(), "cannot write '" + Quoted(f->path()) +
                                   "': " + std::strerror(f->error()));
    return -1;
  }
  return 0;
}

int32_t SavePlotFile(const char *name, int32_t n, const double *x,
                     const double *y, const double *a, const double *b,
                     const double *c) {
  Console console;
  return SavePlotFile(name, n, x, y, a, b, c, Run{console});
}
