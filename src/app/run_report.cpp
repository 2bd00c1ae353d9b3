#include "run_report.h"

#include "html_report.h"
#include "json_summary.h"
#include "kel_path.h"
#include "plot_envelope.h"
#include "replacement_file.h"
#include "report.h"

#include "knotfit/table.hpp"

#include <algorithm>
#include <cstring>

namespace {

// Writes text to a temporary file beside path and renames it over path.
// Empty on success, else why not.
std::string WriteWhole(const std::string &path, const std::string &text) {
  KelTarget target = LocateFile(path);
  if (!target) {
    return std::strerror(target.problem.error);
  }
  const std::string existing = ExistingFileProblem(target);
  if (!existing.empty()) {
    return "it is " + existing;
  }
  ReplacementFile f(std::move(target));
  if (!f.Create() || !f.Write(text.data(), text.size()) || !f.Commit()) {
    return std::strerror(f.error());
  }
  return {};
}

// What the plot of a written data set draws: a short fit as it is; a long
// one as the extremes of each pixel column, of the fit and, where binary32
// flagged a difference, of the table's curve.
void KeepForPlot(knotfit::Spline fit, DataSetRecord &r) {
  if (fit.size() <= kPlotColumns / 2) {
    r.fit = std::move(fit);
    return;
  }
  r.curve = EnvelopeOf(fit);
  const Finding *b32 = nullptr;
  for (const Finding &f : r.diagnosis.findings) {
    b32 = f.flag == Flag::kBinary32 && f.amount > 0.0 ? &f : b32;
  }
  if (b32 != nullptr) {
    const knotfit::Table t = knotfit::read_table(knotfit::table_bytes(fit));
    r.table = EnvelopeOf(t, r.x_min, r.x_max);
  }
}

} // namespace

bool RunReport::Add(DataSetRecord record, const double *x, const double *y,
                    Console &console) {
  DataSetRecord &r = records_.emplace_back(std::move(record));
  if (r.points > 0) {
    r.x_min = *std::min_element(x, x + r.points);
    r.x_max = *std::max_element(x, x + r.points);
    r.y_min = *std::min_element(y, y + r.points);
    r.y_max = *std::max_element(y, y + r.points);
  }
  if (!r.skipped.empty()) {
    return false;
  }
  try {
    knotfit::Spline fit = knotfit::fit(x, y, r.points, r.method);
    r.diagnosis = Diagnose(fit, r.method);
    if (!options_.report.empty()) {
      KeepForPlot(std::move(fit), r);
    }
  } catch (const knotfit::Error &) {
    return false; // written by the program, so never: nothing to show
  }
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

bool RunReport::Write(Console &console) const {
  bool ok = true;
  const std::pair<const std::string *,
                  std::string (*)(const std::vector<DataSetRecord> &, size_t)>
      outputs[] = {{&options_.report, HtmlReport},
                   {&options_.json, JsonSummary}};
  for (const auto &[path, make] : outputs) {
    if (path->empty()) {
      continue;
    }
    const std::string problem =
        WriteWhole(*path, make(records_, failed_fail_on_));
    if (!problem.empty()) {
      console.Message("knotfit: cannot write '" + Quoted(*path) +
                      "': " + problem);
      ok = false;
    }
  }
  return ok;
}
