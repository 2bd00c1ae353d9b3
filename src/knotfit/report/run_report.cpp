#include "report/run_report.h"

#include "console/messages.h"
#include "replacement_file.h"
#include "report/html_report.h"
#include "report/json_summary.h"
#include "report/plot_envelope.h"

#include "knotfit/table.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// What writes the page or the summary.
using WriteText = void (*)(const std::deque<DataSetRecord> &,
                           const RecordTotals &, ChunkWriter &);

// Writes the page or the summary to a temporary file beside path and renames
// it over path. Empty on success, else why not.
std::string WriteWhole(const std::string &path, WriteText write,
                       const std::deque<DataSetRecord> &records,
                       const RecordTotals &totals) {
  return ReplaceWholeFile(path, [&](Sink &file) {
    ChunkWriter out(file);
    write(records, totals, out);
    return out.Flush();
  });
}

// The path as a file made there takes it: every directory of it that exists
// resolved (links followed, as writing there follows them), the rest, which
// the run may yet make (--mkdir), as it stands with "." and ".." applied.
std::string Resolved(const std::string &path) {
  std::string head = path;
  std::vector<std::string> rest; // the components below head, last first
  std::unique_ptr<char, decltype(&std::free)> real(nullptr, &std::free);
  for (;;) {
    real.reset(realpath(head.empty() ? "." : head.c_str(), nullptr));
    if (real) {
      break;
    }
    if (head.empty() || head == "/") {
      return path; // not even the working directory resolves
    }
    const size_t slash = head.rfind('/');
    rest.push_back(head.substr(slash + 1)); // all of it without a '/'
    head = slash == std::string::npos ? ""
           : slash == 0               ? "/"
                                      : head.substr(0, slash);
  }
  std::string resolved = real.get();
  for (auto part = rest.rbegin(); part != rest.rend(); ++part) {
    if (*part == "..") {
      resolved.erase(std::max<size_t>(resolved.rfind('/'), 1));
    } else if (!part->empty() && *part != ".") {
      resolved += resolved == "/" ? "" : "/";
      resolved += *part;
    }
  }
  return resolved;
}

// The directory in which a file of the path is made, resolved.
std::string DirectoryOf(const std::string &path) {
  const size_t slash = path.rfind('/');
  return Resolved(slash == std::string::npos
                      ? "."
                      : path.substr(0, std::max<size_t>(slash, 1)));
}

// A file as the checks of the outputs' paths compare it: by device and
// inode when it exists, else by where it would be made.
struct FileId {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string path; // when it does not exist: its directory resolved, its name
};

FileId IdOf(const std::string &path) {
  FileId id;
  struct stat st {};
  id.exists = path == "-" ? fstat(STDIN_FILENO, &st) == 0
                          : stat(path.c_str(), &st) == 0;
  if (id.exists) {
    id.device = st.st_dev;
    id.inode = st.st_ino;
  } else if (path != "-") {
    const std::string dir = DirectoryOf(path);
    id.path = (dir == "/" ? "" : dir) + "/" + path.substr(path.rfind('/') + 1);
  }
  return id;
}

bool SameFile(const FileId &a, const FileId &b) {
  return a.exists ? b.exists && a.device == b.device && a.inode == b.inode
                  : !b.exists && !a.path.empty() && a.path == b.path;
}

} // namespace

RecordTotals TotalsOf(const std::deque<DataSetRecord> &records,
                      size_t failed_fail_on) {
  RecordTotals totals;
  totals.data_sets = records.size();
  totals.failed_fail_on = failed_fail_on;
  for (const DataSetRecord &r : records) {
    totals.written += r.skipped.empty() ? 1 : 0;
    totals.without_plot += r.plot.empty() ? 0 : 1;
    totals.flagged += r.diagnosis.findings.empty() ? 0 : 1;
  }
  totals.skipped = totals.data_sets - totals.written;
  return totals;
}

namespace {

// The least and greatest of the points' values at their abscissas x in each of
// the plot's columns from r.x_min to r.x_max (a column without one: +inf,
// -inf).
Envelope ColumnsOf(const double *x, const double *values,
                   const DataSetRecord &r) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  Envelope e{std::vector<double>(kPlotColumns, kInf),
             std::vector<double>(kPlotColumns, -kInf)};
  const double width = (r.x_max - r.x_min) / static_cast<double>(kPlotColumns);
  for (size_t i = 0; i < r.points; ++i) {
    const double column = std::min(std::floor((x[i] - r.x_min) / width),
                                   static_cast<double>(kPlotColumns - 1));
    const size_t c = column > 0.0 ? static_cast<size_t>(column) : 0;
    e.low[c] = std::min(e.low[c], values[i]);
    e.high[c] = std::max(e.high[c], values[i]);
  }
  return e;
}

// What the figure of a written data set draws (the one place its data are
// gathered): a short fit as it is; a long one as the extremes of each pixel
// column, of the fit and, where binary32 flagged a difference, of the
// table's curve; the points where they are not the knots, as they are or,
// many, as the extremes of them and of their residuals in each column.
PlotData ToPlot(knotfit::Spline fit, const DataSetRecord &r,
                knotfit::TableForm form, const double *x, const double *y) {
  PlotData plot;
  plot.form = form;
  const size_t n = r.points;
  const bool knots = n == fit.size() && std::equal(x, x + n, fit.x().begin()) &&
                     std::equal(y, y + n, fit.y().begin());
  const bool many = n > kPlotColumns / 2;
  if (many) {
    const knotfit::Table t =
        knotfit::read_table(knotfit::table_bytes(fit, form));
    std::vector<double> residuals(n);
    for (size_t i = 0; i < n; ++i) {
      residuals[i] = y[i] - t.value(x[i]);
    }
    plot.points = ColumnsOf(x, y, r);
    plot.residuals = ColumnsOf(x, residuals.data(), r);
  } else if (!knots) {
    plot.x.assign(x, x + n);
    plot.y.assign(y, y + n);
  }
  if (fit.size() <= kPlotColumns / 2) {
    plot.fit = std::move(fit);
    return plot;
  }
  plot.curve = EnvelopeOf(fit);
  const Finding *b32 = nullptr;
  for (const Finding &f : r.diagnosis.findings) {
    b32 = f.flag == Flag::kBinary32 && f.amount > 0.0 ? &f : b32;
  }
  if (b32 != nullptr) {
    const knotfit::Table t =
        knotfit::read_table(knotfit::table_bytes(fit, form));
    plot.table = EnvelopeOf(t, r.x_min, r.x_max);
  }
  return plot;
}

// The pointwise 95% band of a smoothing fit at its knots, f(x_k) -+ z sigma
// sqrt(v_k), z the normal quantile of 0.975 and v_k the posterior variance
// over sigma^2 that the fit keeps with its details; none without them or
// without sigma (n - df <= 0).
void BandAtKnots(const knotfit::detail::SmoothingFit &s, PlotData &plot) {
  if (!s.sigma || s.variance.size() != s.x.size()) {
    return;
  }
  constexpr double kZ975 = 1.959963984540054;
  for (size_t k = 0; k < s.x.size(); ++k) {
    const double half = kZ975 * *s.sigma * std::sqrt(s.variance[k]);
    plot.band_low.push_back(s.y[k] - half);
    plot.band_high.push_back(s.y[k] + half);
  }
}

// Data sets are handed to the thread beside the run in batches of about
// this many points (and at most kBatchSets of them), so that it wakes a few
// hundred times in a run of 20,000 small data sets, not 20,000 times; at
// most kPointsBeside points wait for it, the memory their copies take.
constexpr uint64_t kBatchPoints = 4096;
constexpr size_t kBatchSets = 64;
constexpr uint64_t kPointsBeside = uint64_t{1} << 20;

} // namespace

std::string OutputPathProblem(const RunReportOptions &options,
                              const std::vector<std::string> &inputs,
                              const KelSettings &kel) {
  struct Output {
    std::string named; // as messages name it
    FileId id;
    std::string directory;
  };
  std::vector<Output> outputs;
  for (const auto &[option, path] :
       {std::pair{"--report", &options.report}, {"--json", &options.json}}) {
    if (!path->empty()) {
      outputs.push_back({std::string(option) + " '" + Quoted(*path) + "'",
                         IdOf(*path), DirectoryOf(*path)});
    }
  }
  if (outputs.empty()) {
    return {};
  }
  if (outputs.size() == 2 && SameFile(outputs[0].id, outputs[1].id)) {
    return outputs[0].named + " and " + outputs[1].named + " are the same file";
  }
  std::vector<FileId> ids;
  ids.reserve(inputs.size());
  for (const std::string &input : inputs) {
    ids.push_back(IdOf(input));
  }
  const std::optional<std::string> base = KelBase(kel);
  const std::string cs = base ? Resolved(*base + "/CS") : "";
  for (const Output &output : outputs) {
    for (size_t i = 0; i < inputs.size(); ++i) {
      if (SameFile(output.id, ids[i])) {
        return output.named + " and input '" + Quoted(inputs[i]) +
               "' are the same file";
      }
    }
    const std::string &dir = output.directory;
    if (base && (dir == cs || dir.rfind(cs + "/", 0) == 0)) {
      return output.named + " lies in the KEL path's CS directory";
    }
  }
  return {};
}

RunReport::RunReport(RunReportOptions options) : options_(std::move(options)) {
  if (options_.fail_on == 0) {
    beside_.emplace(1);
    if (beside_->threads() == 0) {
      beside_.reset(); // no thread to be had: all is done on this one
    }
  }
}

RunReport::~RunReport() = default;

// Its ranges, its diagnosis when it was written, and its parts of the page
// and the summary.
void RunReport::Complete(DataSetRecord &r, const double *x,
                         const double *y) const {
  if (r.points > 0) {
    r.x_min = *std::min_element(x, x + r.points);
    r.x_max = *std::max_element(x, x + r.points);
    r.y_min = *std::min_element(y, y + r.points);
    r.y_max = *std::max_element(y, y + r.points);
  }
  PlotData plot;
  if (r.skipped.empty()) {
    try {
      const knotfit::TableForm form =
          r.table.value_or(knotfit::TableForm::kClassic);
      std::optional<knotfit::Spline> judged;
      if (r.tolerance && r.knots) {
        // The table written, between the points it was made for, or the
        // knots of the smoothing fit it follows.
        judged = knotfit::detail::SplineOf(*r.tolerance);
        const TablePoints data =
            r.smoothing ? TablePoints{r.smoothing->x, r.smoothing->y}
                        : TablePoints{std::vector<double>(x, x + r.points),
                                      std::vector<double>(y, y + r.points)};
        r.diagnosis =
            DiagnoseTable(*judged, data, r.knots->e, r.knots->r, form);
      } else {
        // The fit written; an interpolant that the program kept compact is
        // fitted again, in double.
        judged = r.smoothing ? knotfit::detail::SplineOf(*r.smoothing)
                 : r.fit     ? *r.fit
                             : knotfit::fit(x, y, r.points, r.method);
        r.diagnosis = Diagnose(*judged, r.method, form);
      }
      knotfit::Spline &fit = *judged;
      if (!options_.report.empty()) {
        plot = ToPlot(std::move(fit), r, form, x, y);
        if (const auto &s = r.smoothing; s && !r.tolerance && plot.fit) {
          BandAtKnots(*s, plot);
        }
      }
    } catch (const knotfit::Error &) {
      // Written by the program, so never: nothing to show.
    }
  }
  if (!options_.report.empty()) {
    r.row = HtmlIndexRow(r, r.number);
    r.figure = HtmlFigure(r, r.number, plot);
  }
  if (!options_.json.empty()) {
    r.json = options_.shard.given() ? ShardJsonEntry(r) : JsonEntry(r);
  }
  r.smoothing.reset();
  r.tolerance.reset();
  r.fit.reset();
}

bool RunReport::Add(DataSetRecord record, const double *x, const double *y,
                    Console &console) {
  DataSetRecord &r = records_.emplace_back(std::move(record));
  if (beside_) {
    if (batches_.empty() || batches_.back().task.work) {
      batches_.emplace_back();
    }
    Batch &batch = batches_.back();
    batch.records.push_back(&r);
    batch.x.insert(batch.x.end(), x, x + r.points);
    batch.y.insert(batch.y.end(), y, y + r.points);
    if (batch.x.size() >= kBatchPoints || batch.records.size() >= kBatchSets) {
      HandOver();
    }
    return false;
  }
  Complete(r, x, y);
  const FlagSet failing = r.diagnosis.flags() & options_.fail_on;
  if (failing == 0) {
    return false;
  }
  std::string names;
  for (const FlagInfo &info : AllFlags()) {
    if ((failing & Bit(info.flag)) != 0) {
      names += (names.empty() ? "" : ", ") + std::string(info.name);
    }
  }
  console.Message("knotfit: " + Place(r.input, r.line) + "data set '" +
                  Quoted(r.name) + "': flagged " + names +
                  "; written, fails --fail-on");
  ++failed_fail_on_;
  return true;
}

// Starts the last batch on the thread beside the run, after waiting for
// older ones while too many points wait.
void RunReport::HandOver() {
  Batch &batch = batches_.back();
  while (points_beside_ > 0 &&
         points_beside_ + batch.x.size() > kPointsBeside) {
    WaitOldest();
  }
  batch.task.work = [this, &batch] {
    size_t start = 0;
    for (size_t k = 0; k < batch.records.size(); ++k) {
      DataSetRecord &r = *batch.records[k];
      Complete(r, batch.x.data() + start, batch.y.data() + start);
      start += r.points;
    }
  };
  points_beside_ += batch.x.size();
  beside_->Start(batch.task);
}

// Waits for the oldest batch handed over, and frees its points; throws what
// its diagnosis threw (out of memory).
void RunReport::WaitOldest() {
  Batch &oldest = batches_.front();
  beside_->Wait(oldest.task);
  points_beside_ -= oldest.x.size();
  batches_.pop_front();
}

bool RunReport::Write(Console &console) {
  if (!batches_.empty() && !batches_.back().task.work) {
    HandOver();
  }
  while (!batches_.empty()) {
    WaitOldest();
  }
  RecordTotals totals = TotalsOf(records_, failed_fail_on_);
  totals.shard = options_.shard;
  return WriteReportFiles(options_, records_, totals,
                          [&console](const std::string &why) {
                            console.Message("knotfit: " + why);
                          });
}

bool WriteReportFiles(const RunReportOptions &options,
                      const std::deque<DataSetRecord> &records,
                      const RecordTotals &totals,
                      const std::function<void(const std::string &)> &tell) {
  bool ok = true;
  const std::pair<const std::string *, WriteText> outputs[] = {
      {&options.report, HtmlReport}, {&options.json, JsonSummary}};
  for (const auto &[path, write] : outputs) {
    if (path->empty()) {
      continue;
    }
    const std::string problem = WriteWhole(*path, write, records, totals);
    if (!problem.empty()) {
      tell("cannot write '" + Quoted(*path) + "': " + problem);
      ok = false;
    }
  }
  return ok;
}
