// A data set from its NAME pair to its two files.
#include "fit/generate.h"
#include "console/messages.h"
#include "kel_path.h"
#include "output/kel_files.h"
#include "report/diagnostics.h"

#include "knotfit_internal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// "'<path>' is <what>", appended piece by piece: g++ 12 warns falsely on the
// equivalent chain of '+'.
std::string PathIs(const std::string &path, const std::string &what) {
  std::string text = "'";
  text += Quoted(path);
  text += "' is ";
  text += what;
  return text;
}

// Why the data set's files must not be written where they would go: a link,
// a directory, a FIFO, a socket, a device or a read-only file at either
// target, or a missing directory of the name. Both are looked at before
// either is written. CS or CS/plot themselves missing are left to the
// writers, which end the run.
std::string TargetProblem(const KelTargets &targets) {
  for (const KelTarget *target : {&targets.table, &targets.plot}) {
    const KelProblem &located = target->problem;
    if (located.kind == KelProblem::kSubdirectory) {
      return located.error == ELOOP
                 ? PathIs(located.path, "a symbolic link")
                 : "cannot open directory '" + Quoted(located.path) +
                       "': " + std::strerror(located.error);
    }
  }
  for (const KelTarget *target : {&targets.table, &targets.plot}) {
    const std::string existing = *target ? ExistingFileProblem(*target) : "";
    if (!existing.empty()) {
      return PathIs(target->path, existing);
    }
  }
  return {};
}

// The directories to make when all that stops the data set is that they
// are missing; none when anything else does.
std::vector<std::string> MissingDirectories(const KelTargets &targets) {
  std::vector<std::string> missing;
  for (const KelTarget *target : {&targets.table, &targets.plot}) {
    if (target->problem.kind != KelProblem::kSubdirectory) {
      continue;
    }
    if (target->problem.missing.empty()) {
      return {};
    }
    missing.push_back(target->problem.missing);
  }
  return missing;
}

// What knots that collapsed in the form written cost, and the first later
// form that keeps them apart (about the same origin, the first knot's x).
const char *CannotTellApart(int32_t n, const double *x,
                            knotfit::TableForm written) {
  using knotfit::TableForm;
  for (const TableForm form : {TableForm::kOffset, TableForm::kDouble}) {
    if (form > written &&
        knotfit::detail::CollapsedKnots(n, x, nullptr, form, x[0]).empty()) {
      return form == TableForm::kOffset
                 ? "the table cannot tell them apart; use --table=offset"
                 : "the table cannot tell them apart; use --table=double";
    }
  }
  return "the table cannot tell them apart";
}

// The problem, reported as skipping the data set, with the hint of what
// would take such points; the outcome it gives.
DataSetOutcome Skip(const Problem &problem, const SourcePlace &where,
                    const DataSet &set, const Run &run) {
  PrintDataSetMessage(run.console, Place(where), set.name, problem.text,
                      "skipped");
  if (const std::string hint = OrderHint(problem.text, run.measured);
      !hint.empty()) {
    run.console.Message(hint);
  }
  DataSetOutcome skipped;
  skipped.reason = problem.text;
  skipped.line = where.line;
  return skipped;
}

const KelSettings &KelOf(const Run &run) {
  static const KelSettings kEnvironment; // no --kel, no --mkdir
  return run.kel != nullptr ? *run.kel : kEnvironment;
}

// Where a message about the problem points: where the value it is about was
// read, else the data set's place.
SourcePlace WhereOf(const Problem &problem, const DataSet &set) {
  const std::optional<PointPlaces::Where> at =
      set.points != nullptr ? set.points->Find(problem.about) : std::nullopt;
  return at ? SourcePlace{set.place.input, at->line, at->column} : set.place;
}

// A measure in messages: "9.7e-05", "1e-04" below 0.001, "0.0471" and
// "40.1" from there.
std::string Measure(double v) {
  char text[32];
  const bool small = std::fabs(v) < 1e-3 && v != 0.0;
  std::snprintf(text, sizeof text, small ? "%.1e" : "%.3g", v);
  std::string out = text;
  if (const size_t zero = out.find(".0e"); zero != std::string::npos) {
    out.erase(zero, 2);
  }
  return out;
}

// The knots found for --tolerance and what the table reached with them.
std::optional<KnotsReached> Reached(const knotfit::detail::DataSetFit &fit,
                                    int32_t n, const double *x, const double *y,
                                    const Run &run) {
  if (!fit.knots()) {
    return std::nullopt;
  }
  const knotfit::detail::ToleranceFit &knots = *fit.knots();
  KnotsReached r;
  r.points = static_cast<uint64_t>(n);
  r.knots = knots.x.size();
  r.bytes = knotfit::detail::TableSize(fit.form(), r.knots);
  r.e = fit.bound();
  r.r = fit.relative_bound();
  r.error = knots.error;
  r.at = knots.worst_at;
  r.met = knots.met;
  if (const auto &f = fit.smoothing()) {
    // Against the smoothing fit it follows.
    r.table_vs_fit = knotfit::detail::TableVersusFit(
        knots, static_cast<int32_t>(f->x.size()), f->x.data(), f->y.data(),
        f->a.data(), f->b.data(), f->c.data());
  } else {
    r.table_vs_fit =
        knotfit::detail::TableVersusFit(knots, run.method, n, x, y);
  }
  return r;
}

// --verbose's line (with --table, the form written), and the warning of a
// bound that no table found meets. Without a bound the table's knots are
// the points, or fewer where a smoothing fit merged equal x.
void ReportKnots(const std::optional<KnotsReached> &knots, const DataSet &set,
                 const std::string &place,
                 const knotfit::detail::DataSetFit &fit, const Run &run) {
  if (knots && !knots->met) {
    PrintDataSetMessage(
        run.console, place, set.name,
        "no table within E = " + Measure(knots->e) +
            " found, the best has max error " + Measure(knots->error) +
            " at x = " + knotfit::detail::ShortNumber(knots->at) + " (" +
            Counted(knots->knots, "knot", "knots") + ")",
        "written so");
  }
  if (!run.verbose) {
    return;
  }
  const auto n = static_cast<uint64_t>(set.n);
  std::string line = "knotfit: " + place + "data set '" + Quoted(set.name) +
                     "': " + Counted(n, "point", "points") + " -> ";
  if (!knots) {
    line += Counted(static_cast<uint64_t>(fit.n()), "knot", "knots");
  } else {
    line += Counted(knots->knots, "knot", "knots") + ", max error " +
            Measure(knots->error) +
            " at x = " + knotfit::detail::ShortNumber(knots->at) +
            " (E = " + Measure(knots->e) +
            (knots->r > 0.0 ? ", R = " + Measure(knots->r) : std::string()) +
            ")";
  }
  if (const auto smoothing = fit.smoothing()) {
    const auto &f = *smoothing;
    line += ", lambda " + Measure(f.lambda) + ", df " + Measure(f.df) +
            (f.cv ? ", cv " : ", gcv ") +
            (f.score ? Measure(*f.score) : "none");
  }
  if (run.table.given) {
    line += ", table " + std::string(knotfit::TableFormName(fit.form()));
  }
  run.console.Message(line);
}

// The fit the run asks for: its method and parameters, its bound, its
// form (the data set's measured rules were applied as it was read).
knotfit::Request RequestOf(const Run &run) {
  knotfit::Request request;
  request.method = run.method;
  request.smoothing = run.smoothing;
  if (run.tolerance != nullptr) {
    request.tolerance = *run.tolerance;
  }
  request.form = run.table.form;
  request.automatic_form = run.table.automatic;
  return request;
}

// The points' problem as the reader sees it: nan is a number as a whole,
// but as a reading it most often says that there was none. Measured points
// (--sort, --ties, --missing) are named by the line they were read on, as
// their index no longer says where that was.
Problem AsRead(Problem problem, const DataSet &set) {
  const std::string missing = " (a missing value? use --missing skip)";
  const int32_t i = problem.about.point;
  if (set.lines != nullptr && i >= 0) {
    problem.text += ", line " + std::to_string(set.lines[i]);
    if (i < set.n && ReadAsMissing(set.x[i], set.y[i])) {
      problem.text += missing;
    }
    problem.about = {};
    return problem;
  }
  for (int32_t k = 0; k < set.n; ++k) {
    if (ReadAsMissing(set.x[k], set.y[k])) {
      if (problem.text.find("not finite (") != std::string::npos) {
        problem.text += missing;
      }
      break;
    }
  }
  return problem;
}

} // namespace

MadeDataSet::MadeDataSet(const DataSet &set, const Run &run, Workspace &work,
                         bool files) {
  if (!set.skipped.empty()) {
    return; // reported as the reader found it
  }
  const int32_t n = set.n;
  problem_ = {NameProblem(set.name), {}};
  if (!problem_.empty()) {
    return;
  }
  // A long search shows on the progress line, with the knots so far.
  const auto start = std::chrono::steady_clock::now();
  const knotfit::detail::ToleranceProgress progress = [&run, &set,
                                                       start](size_t knots) {
    run.console.Fitting(set.name, knots, start);
  };
  const knotfit::detail::DataSetFit &fit =
      fit_.emplace(RequestOf(run), n, set.x, set.y, set.w,
                   work.Arrays(static_cast<size_t>(n)), true, progress);
  if (!fit.problem().empty()) {
    problem_ = AsRead(fit.problem(), set);
    return;
  }
  reached_ = Reached(fit, n, set.x, set.y, run);
  // The table holds binary32 values (binary64 in the double form): a field
  // that overflows there would be stored as inf, and knots stored with the
  // same x cannot be told apart by a reader. The first skips the data set,
  // the second is written as always, with a warning.
  refusal_ = fit.Refusal();
  if (!refusal_.empty()) {
    return;
  }
  collapsed_ = fit.Collapsed();
  if (!files) {
    return;
  }
  // Targets that are not plain new or writable files, and missing
  // directories, are left to its turn, as it then finds them: --mkdir makes
  // directories there, in input order, never here.
  KelSettings look = KelOf(run);
  look.mkdir = false;
  KelTargets targets = LocateKelTargets(set.name, look);
  if (!targets.table || !targets.plot || !TargetProblem(targets).empty()) {
    return;
  }
  // The trace's buffer sized to the trace (a line is at most about a
  // hundred bytes), not to a chunk of standard output: a worker that held
  // 64 KiB for it beside the plot file's buffer made its allocator give
  // memory back and take it again for every data set.
  Collect trace;
  ChunkWriter lines(
      trace, std::min(size_t{1} << 16, static_cast<size_t>(n) * 128 + 256));
  WriteFiles(std::move(targets), run.console.quiet() ? nullptr : &lines,
             nullptr, ReplacementFile::Creator::kWorker);
  lines.Flush();
  trace_ = std::move(trace.text);
  const bool complete =
      table_.complete && (plot_.complete || !plot_.unplottable.empty());
  if (!complete) {
    failed_ = true;
    DropFiles();
  }
}

void MadeDataSet::WriteFiles(KelTargets targets, ChunkWriter *trace,
                             Workers *workers,
                             ReplacementFile::Creator creator) {
  table_ = SaveKEL(*fit_, std::move(targets.table), trace, workers, creator);
  if (table_.complete) {
    plot_ = SavePlotFile(*fit_, std::move(targets.plot), creator);
  }
}

void MadeDataSet::DropFiles() {
  table_ = {}; // removes their temporary files
  plot_ = {};
  trace_.clear();
}

DataSetOutcome GenerateCubicSpline(const DataSet &set, MadeDataSet &made,
                                   const Run &run) {
  Console &console = run.console;
  const std::string place = Place(set.place);
  if (set.measured) {
    ReportMeasured(console, place, set.name, set.measured->counts,
                   set.measured->first_dropped_line,
                   set.measured->first_merged_line, run.measured);
  }
  if (!set.skipped.empty()) {
    return Skip({std::string(set.skipped), {}}, set.place, set, run);
  }
  if (!made.problem_.empty()) {
    return Skip(made.problem_, WhereOf(made.problem_, set), set, run);
  }
  // Files written ahead were located, and looked at, there.
  KelTargets targets;
  if (!made.has_files()) {
    targets = LocateKelTargets(set.name, KelOf(run));
    if (const Problem problem{TargetProblem(targets), {}}; !problem.empty()) {
      DataSetOutcome skipped = Skip(problem, set.place, set, run);
      const std::vector<std::string> missing = MissingDirectories(targets);
      if (!missing.empty()) {
        console.Message(MkdirHint(missing));
      }
      return skipped;
    }
  }
  if (!made.refusal_.empty()) {
    return Skip(made.refusal_, WhereOf(made.refusal_, set), set, run);
  }
  const knotfit::detail::DataSetFit &fit = *made.fit_;
  if (!made.collapsed_.empty()) {
    PrintDataSetMessage(console, Place(WhereOf(made.collapsed_, set)), set.name,
                        made.collapsed_.text,
                        CannotTellApart(set.n, set.x, fit.form()));
  }
  ReportKnots(made.reached_, set, place, fit, run);
  ChunkWriter *trace = console.quiet() ? nullptr : &console.out();
  if (!made.has_files()) {
    made.WriteFiles(std::move(targets), trace, run.workers,
                    ReplacementFile::Creator::kRunThread);
  } else if (trace != nullptr) {
    trace->AppendAll(made.trace_);
  }
  DataSetOutcome outcome;
  FilesPlaced placed =
      PlaceFiles(set.name, place, made.table_, made.plot_, console);
  outcome.files = placed.files;
  outcome.reason = std::move(placed.reason);
  const bool table_written = outcome.files == Outcome::kWritten ||
                             outcome.files == Outcome::kUnplotted;
  const bool short_of_bound = made.reached_ && !made.reached_->met;
  outcome.warned =
      table_written && (!made.collapsed_.empty() || short_of_bound);
  outcome.table = fit.form();
  outcome.knots = made.reached_;
  if (table_written) {
    outcome.smoothing = fit.smoothing();
    outcome.tolerance = fit.knots();
    if (run.keep_fit && !fit.smoothing() && !fit.knots() &&
        fit.fields().bc == nullptr) {
      outcome.fit = std::make_shared<const knotfit::Spline>(
          knotfit::detail::SplineOf(fit.fields()));
    }
  }
  return outcome;
}

DataSetOutcome GenerateCubicSpline(const DataSet &set, const Run &run) {
  Workspace own;
  MadeDataSet made(set, run, run.workspace != nullptr ? *run.workspace : own,
                   false);
  return GenerateCubicSpline(set, made, run);
}
