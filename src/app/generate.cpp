// A data set from its NAME pair to its two files.
#include "checks.h"
#include "kel.h"
#include "kel_path.h"
#include "knotfit.h"
#include "methods.h"
#include "report.h"
#include "table_form.h"

#include <cerrno>
#include <cstring>

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
  for (const auto *located : {&targets.table_problem, &targets.plot_problem}) {
    if (located->kind == KelProblem::kSubdirectory) {
      return located->error == ELOOP
                 ? PathIs(located->path, "a symbolic link")
                 : "cannot open directory '" + Quoted(located->path) +
                       "': " + std::strerror(located->error);
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

} // namespace

std::string CheckDataSet(int32_t n, const double *x, const double *y,
                         const char *name) {
  const std::string problem = NameProblem(name);
  return problem.empty() ? knotfit::PointsProblem(n, x, y) : problem;
}

int32_t GenerateCubicSpline(int32_t n, const double *x, const double *y,
                            const char *name, const Run &run) {
  Console &console = run.console;
  std::string problem = CheckDataSet(n, x, y, name);
  if (problem.empty()) {
    problem = knotfit::MethodProblem(run.method, n, x, y);
  }
  KelTargets targets;
  if (problem.empty()) {
    targets = LocateKelTargets(name, run.kel);
    problem = TargetProblem(targets);
  }
  if (!problem.empty()) {
    ReportDataSet(console, name, problem, "skipped");
    std::vector<std::string> missing;
    for (const KelProblem *p :
         {&targets.table_problem, &targets.plot_problem}) {
      if (p->kind == KelProblem::kSubdirectory && !p->missing.empty()) {
        missing.push_back(p->missing);
      }
    }
    if (!missing.empty()) {
      console.Message(MkdirHint(missing));
    }
    return -1;
  }
  Workspace own;
  TableForm form(run.method, n, x, y,
                 run.workspace != nullptr ? *run.workspace : own);
  // The table holds binary32 values: a field that overflows there would be
  // stored as inf, and knots that narrow to the same x cannot be told apart
  // by a reader. The first skips the data set, the second is written as
  // always, with a warning.
  problem = form.Binary32Problem();
  if (!problem.empty()) {
    ReportDataSet(console, name, problem, "skipped");
    return -1;
  }
  const std::string collapsed = knotfit::CollapsedKnots(n, x);
  if (!collapsed.empty()) {
    ReportDataSet(console, name, collapsed, "the table cannot tell them apart");
  }
  int32_t result = SaveTable(name, std::move(targets.table),
                             targets.table_problem, form, run);
  if (result == 0) {
    result = SavePlot(name, std::move(targets.plot), targets.plot_problem, n, x,
                      y, form.a(), form.b(), form.c(), run);
  }
  // Written with a warning still fails the run's status.
  return result == 0 && !collapsed.empty() ? 1 : result;
}

int32_t GenerateCubicSpline(int32_t n, const double *x, const double *y,
                            const char *name) {
  Console console;
  return GenerateCubicSpline(n, x, y, name, Run{console});
}
