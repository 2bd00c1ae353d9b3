// A data set from its NAME pair to its two files.
#include "fit/generate.h"
#include "console/messages.h"
#include "fit/table_form.h"
#include "kel_path.h"
#include "output/kel_files.h"
#include "report/diagnostics.h"

#include "knotfit_internal.h"

#include <cerrno>
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

// The form of the data set's table: --table's, or for auto the least one its
// fit needs, judged on the library's fit of the same points (the same
// doubles).
knotfit::TableForm FormOf(int32_t n, const double *x, const double *y,
                          const Run &run) {
  if (!run.table.automatic) {
    return run.table.form;
  }
  try {
    if (!knotfit::detail::InfoOf(run.method.method).smooths) {
      return LeastTableForm(
          knotfit::fit(x, y, static_cast<size_t>(n), run.method));
    }
    // A smoothing fit is the natural spline through its own knots.
    Workspace scratch;
    const TableForm smoothed(run.method, knotfit::TableForm::kClassic, n, x, y,
                             scratch, run.weights, run.smoothing);
    const auto &f = *smoothed.smoothing();
    return f.x.empty() ? knotfit::TableForm::kClassic // refused: not written
                       : LeastTableForm(knotfit::fit(
                             f.x, f.y, {knotfit::Method::kNatural}));
  } catch (const knotfit::Error &) {
    return knotfit::TableForm::kClassic; // never: the same checks passed
  }
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

// Where a message about the problem points: where the value it is about was
// read, else the data set's place.
std::string PlaceOf(const Problem &problem, const Run &run) {
  const std::optional<PointPlaces::Where> at =
      run.points != nullptr ? run.points->Find(problem.about) : std::nullopt;
  return at ? Place(run.input, at->line, at->column) : std::string(run.place);
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
std::optional<KnotsReached> Reached(const TableForm &fit, int32_t n,
                                    const double *x, const double *y,
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
  r.error = knots.error;
  r.at = x[knots.worst];
  r.met = knots.met;
  r.table_vs_fit = knotfit::detail::TableVersusFit(knots, run.method, n, x, y);
  return r;
}

// --verbose's line (with --table, the form written), and the warning of a
// bound that no table found meets.
void ReportKnots(const std::optional<KnotsReached> &knots, int32_t n,
                 std::string_view name, knotfit::TableForm form,
                 const Run &run) {
  if (knots && !knots->met) {
    PrintDataSetMessage(
        run.console, run.place, name,
        "no table within E = " + Measure(knots->e) +
            " found, the best has max error " + Measure(knots->error) +
            " at x = " + knotfit::detail::ShortNumber(knots->at) + " (" +
            Counted(knots->knots, "knot", "knots") + ")",
        "written so");
  }
  if (!run.verbose) {
    return;
  }
  std::string line =
      "knotfit: " + std::string(run.place) + "data set '" + Quoted(name) +
      "': " + Counted(static_cast<uint64_t>(n), "point", "points") + " -> ";
  if (!knots) {
    line += Counted(static_cast<uint64_t>(n), "knot", "knots");
  } else {
    line += Counted(knots->knots, "knot", "knots") + ", max error " +
            Measure(knots->error) +
            " at x = " + knotfit::detail::ShortNumber(knots->at) +
            " (E = " + Measure(knots->e) + ")";
  }
  if (run.table.given) {
    line += ", table " + std::string(knotfit::TableFormName(form));
  }
  run.console.Message(line);
}

} // namespace

Problem CheckDataSet(int32_t n, const double *x, const double *y,
                     std::string_view name, bool equal_x) {
  Problem problem{NameProblem(name), {}};
  if (problem.empty()) {
    problem.text =
        knotfit::detail::PointsProblem(n, x, y, &problem.about, equal_x);
    // nan is a number as a whole, but as a reading it most often says that
    // there was none.
    for (int32_t i = 0; !problem.empty() && i < n; ++i) {
      if (ReadAsMissing(x[i], y[i])) {
        if (problem.text.find("not finite (") != std::string::npos) {
          problem.text += " (a missing value? use --missing skip)";
        }
        break;
      }
    }
  }
  return problem;
}

// The checks that need only the data set and the method.
Problem DataSetProblem(int32_t n, const double *x, const double *y,
                       std::string_view name, const Run &run) {
  Problem problem = CheckDataSet(
      n, x, y, name, knotfit::detail::InfoOf(run.method.method).smooths);
  if (problem.empty()) {
    problem.text = knotfit::detail::MethodProblem(run.method, n, x, y);
  }
  return problem;
}

PreparedDataSet PrepareDataSet(int32_t n, const double *x, const double *y,
                               std::string_view name, const Run &run,
                               Workspace &work) {
  PreparedDataSet made;
  made.problem = DataSetProblem(n, x, y, name, run);
  if (!made.problem.empty()) {
    return made;
  }
  made.form = FormOf(n, x, y, run);
  const TableForm fit(run.method, made.form, n, x, y, work, run.weights,
                      run.smoothing, run.tolerance);
  made.reached = Reached(fit, n, x, y, run);
  made.binary32 = fit.Refusal();
  if (!made.binary32.empty()) {
    return made;
  }
  made.smoothing = fit.smoothing();
  made.collapsed = fit.Collapsed();
  Collect table;
  if (run.console.quiet()) {
    WriteCoefficientTable(table, nullptr, fit.fields(), made.form);
  } else {
    Collect trace;
    ChunkWriter lines(trace);
    WriteCoefficientTable(table, &lines, fit.fields(), made.form);
    lines.Flush();
    made.trace = std::move(trace.text);
  }
  made.table = std::move(table.text);
  std::vector<knotfit::PlotSample> samples;
  made.plot_problem = SampleFit(fit, samples);
  if (made.plot_problem.empty()) {
    Collect plot;
    WritePlotLines(plot, samples);
    made.plot = std::move(plot.text);
  }
  return made;
}

void WriteAhead(PreparedDataSet &made, std::string_view name,
                const KelSettings &kel) {
  if (!made.problem.empty() || !made.binary32.empty() ||
      !made.plot_problem.empty() || kel.mkdir) {
    return;
  }
  KelTargets targets = LocateKelTargets(name, kel);
  if (!targets.table || !targets.plot || !TargetProblem(targets).empty()) {
    return; // reported in its turn, as it then stands
  }
  auto write = [](KelTarget target, const std::string &bytes) {
    auto f = std::make_unique<ReplacementFile>(std::move(target));
    const bool written = f->Create(ReplacementFile::Creator::kWorker) &&
                         f->Write(bytes.data(), bytes.size()) && f->Close();
    return written ? std::move(f) : nullptr;
  };
  made.table_file = write(std::move(targets.table), made.table);
  made.plot_file =
      made.table_file ? write(std::move(targets.plot), made.plot) : nullptr;
  if (!made.plot_file) {
    made.table_file.reset(); // removes its temporary file
    made.ahead_failed = true;
  }
}

DataSetOutcome GenerateCubicSpline(int32_t n, const double *x, const double *y,
                                   std::string_view name, const Run &run,
                                   PreparedDataSet *ahead) {
  Console &console = run.console;
  Problem problem =
      ahead != nullptr ? ahead->problem : DataSetProblem(n, x, y, name, run);
  // Files written ahead were located, and looked at, there.
  const bool written_ahead = ahead != nullptr && ahead->plot_file != nullptr;
  KelTargets targets;
  if (problem.empty() && !written_ahead) {
    static const KelSettings kEnvironment; // no --kel, no --mkdir
    targets =
        LocateKelTargets(name, run.kel != nullptr ? *run.kel : kEnvironment);
    problem = {TargetProblem(targets), {}};
  }
  if (!problem.empty()) {
    PrintDataSetMessage(console, PlaceOf(problem, run), name, problem.text,
                        "skipped");
    if (const std::string hint = OrderHint(problem.text, run.measured);
        !hint.empty()) {
      console.Message(hint);
    }
    const std::vector<std::string> missing = MissingDirectories(targets);
    if (!missing.empty()) {
      console.Message(MkdirHint(missing));
    }
    return {};
  }
  Workspace own;
  std::optional<TableForm> fit;
  if (ahead == nullptr) {
    fit.emplace(run.method, FormOf(n, x, y, run), n, x, y,
                run.workspace != nullptr ? *run.workspace : own, run.weights,
                run.smoothing, run.tolerance);
  }
  const knotfit::TableForm form = ahead != nullptr ? ahead->form : fit->form();
  const std::optional<KnotsReached> reached =
      ahead != nullptr ? ahead->reached : Reached(*fit, n, x, y, run);
  // The table holds binary32 values (binary64 in the double form): a field
  // that overflows there would be stored as inf, and knots stored with the
  // same x cannot be told apart by a reader. The first skips the data set,
  // the second is written as always, with a warning.
  problem = ahead != nullptr ? ahead->binary32 : fit->Refusal();
  if (!problem.empty()) {
    PrintDataSetMessage(console, PlaceOf(problem, run), name, problem.text,
                        "skipped");
    return {};
  }
  const Problem collapsed =
      ahead != nullptr ? ahead->collapsed : fit->Collapsed();
  if (!collapsed.empty()) {
    PrintDataSetMessage(console, PlaceOf(collapsed, run), name, collapsed.text,
                        CannotTellApart(n, x, form));
  }
  ReportKnots(reached, n, name, form, run);
  // Both files change together: the table's temporary file is completed
  // first, then the plot file's, then both are renamed.
  const WriterInput input{fit ? &*fit : nullptr, ahead};
  std::unique_ptr<ReplacementFile> table, plot;
  if (written_ahead) {
    table = std::move(ahead->table_file);
    plot = std::move(ahead->plot_file);
  }
  Outcome outcome = SaveKEL(name, input, std::move(targets.table), run, table);
  if (outcome == Outcome::kWritten) {
    outcome = SavePlotFile(name, input, std::move(targets.plot), run, *table,
                           std::move(plot));
  }
  const bool table_written =
      outcome == Outcome::kWritten || outcome == Outcome::kUnplotted;
  const bool short_of_bound = reached && !reached->met;
  return {outcome,
          table_written && (!collapsed.empty() || short_of_bound),
          false,
          form,
          reached,
          table_written
              ? (ahead != nullptr ? ahead->smoothing : fit->smoothing())
              : nullptr};
}
