// The output writers: the binary coefficient table (with its console trace)
// and the plot file, each in its file under the KEL path.
#include "output/kel_files.h"

#include "console/messages.h"
#include "input/number_text.h"

#include "knotfit.h"

#include <algorithm>
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
// one inside a subdirectory of the name only fails its data set.
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

// The writer's messages for a file that ends the run (the fix, for a
// missing directory), and the outcome.
Outcome EndRun(const Run &run, const char *writer, Outcome outcome,
               const ReplacementFile &f) {
  Console &console = run.console;
  console.Message(std::string(kModule) + "(" + writer + ") error opening file");
  std::string line = "knotfit: ";
  line += run.place;
  console.Message(line + OpenFailure(f));
  if (!f.problem().missing.empty()) {
    console.Message(MkdirHint({f.problem().missing}));
  }
  return outcome;
}

std::string CannotWrite(const ReplacementFile &f) {
  return "cannot write '" + Quoted(f.path()) + "': " + std::strerror(f.error());
}

// ">>>>> writing error", then what failed and what it left.
void ReportWriteFailure(const Run &run, std::string_view name,
                        const ReplacementFile &f, const char *consequence) {
  run.console.Message(">>>>> writing error");
  PrintDataSetMessage(run.console, run.place, name, CannotWrite(f),
                      consequence);
}

void ReportTableFailure(const Run &run, std::string_view name,
                        const ReplacementFile &table) {
  ReportWriteFailure(run, name, table,
                     table.had_previous() ? "previous file kept"
                                          : "no file written");
}

// What placing a data set's files did.
struct Placed {
  bool table = false; // the new table is in place
  bool plot = false;  // the new plot file is in place
  Removal old_plot = Removal::kNothingThere;
};

// Renames the data set's complete temporary files over their targets, the
// table's first, with the signals that end a run held back until both are
// done: a stopped run leaves both old files or both new ones. Without a new
// plot file the old one is removed instead, as it does not belong to the new
// table; when the table cannot be renamed, nothing changes.
Placed PlaceFiles(ReplacementFile &table, ReplacementFile *plot,
                  const KelTarget &plot_target) {
  Placed placed;
  const SignalsBlocked blocked;
  placed.table = table.Rename();
  if (!placed.table) {
    return placed;
  }
  placed.plot = plot != nullptr && plot->Rename();
  if (!placed.plot && plot_target) {
    placed.old_plot = RemoveStaleFile(plot_target);
  }
  return placed;
}

// Reports a data set whose files were placed without a new plot file, for
// the problem given: kUnplotted with its new table in place, else kFailed.
Outcome Unplotted(const Run &run, std::string_view name,
                  const ReplacementFile &table, const Placed &placed,
                  const std::string &problem) {
  if (!placed.table) {
    ReportTableFailure(run, name, table);
    return Outcome::kFailed;
  }
  const char *consequence = "no plot file written";
  switch (placed.old_plot) {
  case Removal::kNothingThere:
    break;
  case Removal::kRemoved:
    consequence = "no plot file written, old plot file removed";
    break;
  case Removal::kFailed:
    consequence = "no plot file written, old plot file NOT removed";
    break;
  }
  PrintDataSetMessage(run.console, run.place, name, problem, consequence);
  return Outcome::kUnplotted;
}

// Copies a string literal (without its NUL) to out; the size is known when
// compiling, so no library call is made per label.
template <size_t N> char *Put(char *out, const char (&literal)[N]) {
  std::memcpy(out, literal, N - 1);
  return out + N - 1;
}

// The longest trace line.
constexpr size_t kTraceLineMax = 5 * kFixed6Max + 40;

// One record's trace line, the values exactly as the table gives them back:
// "\ttab(x, y) -> a(a) b(b) c(c)\n". out holds kTraceLineMax bytes.
template <class Field> char *TraceLine(char *text, const Field fields[5]) {
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
  return Put(text, ")\n");
}

// The trace of a long table, formatted ahead by the worker threads, a block
// of records each, a few blocks at a time, and handed out in the table's
// order as the table is written: a block's lines all at once when its last
// record is written, and at the end (Finish) the lines of the records
// written of the last block. The lines, and the record at which a failed
// write stops them, are those of a trace formatted on the spot.
class TraceAhead {
public:
  TraceAhead(Workers &workers, const knotfit::detail::TableFields &fields)
      : workers_(workers), fields_(fields),
        blocks_(std::min(workers.threads(), 4u) + 2) {
    for (size_t number = 0; number < blocks_.size(); ++number) {
      Start(number);
    }
  }
  ~TraceAhead() { workers_.Cancel(); }
  TraceAhead(const TraceAhead &) = delete;
  TraceAhead &operator=(const TraceAhead &) = delete;

  // The next record (knot n-1 first) was written.
  void Next(ChunkWriter &trace) {
    if (++line_ == static_cast<size_t>(kLines)) {
      Finish(trace);
      Start(current_ + blocks_.size()); // the block just read, refilled
      ++current_;
    }
  }

  // The lines of the records written since the last block was handed out.
  void Finish(ChunkWriter &trace) {
    if (line_ == 0) {
      return;
    }
    Block &block = blocks_[current_ % blocks_.size()];
    workers_.Wait(block.task);
    trace.AppendAll(std::string_view(block.text(), block.ends[line_ - 1]));
    line_ = 0;
  }

  static constexpr int64_t kLines = 2048; // a block's

private:
  struct Block {
    Workers::Task task;
    Region region;            // the lines, never zero-filled
    std::vector<size_t> ends; // the end of each line
    char *text() { return static_cast<char *>(region.data()); }
  };

  // Formats block number, the records kLines * number on, unless past the end.
  void Start(size_t number) {
    const int64_t first = static_cast<int64_t>(number) * kLines;
    if (first >= fields_.n) {
      return;
    }
    Block &block = blocks_[number % blocks_.size()];
    block.task.work = [this, &block, first] {
      const int64_t last = std::min<int64_t>(first + kLines, fields_.n);
      block.ends.clear();
      size_t used = 0;
      for (int64_t k = first; k < last; ++k) {
        if (block.region.capacity() - used < kTraceLineMax) {
          block.region.Reserve(2 * block.region.capacity() + kTraceLineMax,
                               used);
        }
        float record[5];
        fields_.Record(static_cast<int32_t>(fields_.n - 1 - k), record);
        used = static_cast<size_t>(TraceLine(block.text() + used, record) -
                                   block.text());
        block.ends.push_back(used);
      }
    };
    workers_.Start(block.task);
  }

  Workers &workers_;
  const knotfit::detail::TableFields &fields_;
  std::vector<Block> blocks_;
  size_t current_ = 0; // the block being read
  size_t line_ = 0;    // its records written
};

} // namespace

std::unique_ptr<ReplacementFile> open_KEL_file(KelTarget target) {
  auto f = std::make_unique<ReplacementFile>(std::move(target));
  f->Create();
  return f;
}

bool WriteCoefficientTable(Sink &file, ChunkWriter *trace,
                           const knotfit::detail::TableFields &fields,
                           knotfit::TableForm form, Workers *workers) {
  // A long table goes out in chunks of a mebibyte, a short one in one write.
  ChunkWriter table(
      file,
      static_cast<size_t>(std::min<uint64_t>(
          knotfit::detail::TableSize(form, static_cast<uint64_t>(fields.n)),
          uint64_t{1} << 20)));
  if (form != knotfit::TableForm::kClassic) {
    knotfit::detail::EncodeTable(fields, form, table, [trace](const double *f) {
      if (trace != nullptr) {
        trace->Commit(TraceLine(trace->Room(kTraceLineMax), f));
      }
    });
  } else if (trace == nullptr) {
    // Quiet: formatting the trace is most of a long run's time.
    knotfit::detail::EncodeTable(fields, table, [](const float *) {});
  } else if (workers != nullptr && fields.n > 2 * TraceAhead::kLines) {
    TraceAhead ahead(*workers, fields);
    knotfit::detail::EncodeTable(
        fields, table, [trace, &ahead](const float *) { ahead.Next(*trace); });
    ahead.Finish(*trace);
  } else {
    knotfit::detail::EncodeTable(fields, table, [trace](const float *f) {
      trace->Commit(TraceLine(trace->Room(kTraceLineMax), f));
    });
  }
  return table.Flush();
}

std::string SampleFit(const TableForm &fit,
                      std::vector<knotfit::PlotSample> &samples) {
  const double *x = fit.x();
  TableForm::Walk walk;
  return knotfit::detail::SamplePlot(
      x[0], x[fit.n() - 1],
      [&fit, &walk](double t) { return fit.ValueAfter(t, walk); }, samples);
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

Outcome SaveKEL(std::string_view name, WriterInput fit, KelTarget target,
                const Run &run, std::unique_ptr<ReplacementFile> &table) {
  Console &console = run.console;
  // A table written ahead (-j) is complete and closed: only its trace is
  // left to print.
  const bool written_ahead = table != nullptr;
  auto f = written_ahead ? std::move(table) : open_KEL_file(std::move(target));
  if (!f->is_open() && !written_ahead) {
    if (EndsTheRun(*f)) {
      return EndRun(run, "SaveKEL", Outcome::kNoTables, *f);
    }
    PrintDataSetMessage(console, run.place, name, OpenFailure(*f), "skipped");
    return Outcome::kFailed;
  }
  ChunkWriter *trace = console.quiet() ? nullptr : &console.out();
  if (trace != nullptr) {
    trace->Append(" writing : \n ");
  }
  bool written = written_ahead;
  if (fit.made != nullptr) {
    if (trace != nullptr) {
      trace->AppendAll(fit.made->trace);
    }
    if (!written_ahead) {
      written = f->Write(fit.made->table.data(), fit.made->table.size());
    }
  } else {
    written = WriteCoefficientTable(*f, trace, fit.fit->fields(),
                                    fit.fit->form(), run.workers);
  }
  if (!written_ahead && (!written || !f->Close())) {
    ReportTableFailure(run, name, *f);
    return Outcome::kFailed;
  }
  if (trace != nullptr) {
    trace->Append("done\n");
  }
  table = std::move(f);
  return Outcome::kWritten;
}

Outcome SavePlotFile(std::string_view name, WriterInput fit, KelTarget target,
                     const Run &run, ReplacementFile &table,
                     std::unique_ptr<ReplacementFile> ahead) {
  Console &console = run.console;
  // The files are put in place after what was printed before them.
  console.WaitForOutput();
  // Without a new plot file the new table still goes in place, and the old
  // plot file, which does not belong to it, goes.
  auto without_plot = [name, &run, &table](const KelTarget &plot,
                                           const std::string &problem) {
    return Unplotted(run, name, table, PlaceFiles(table, nullptr, plot),
                     problem);
  };
  // The samples are taken before the file is opened: a step that cannot
  // advance across the range fails the plot without touching anything.
  std::vector<knotfit::PlotSample> samples;
  const std::string problem = fit.made != nullptr
                                  ? fit.made->plot_problem
                                  : SampleFit(*fit.fit, samples);
  if (!problem.empty()) {
    return without_plot(target, problem);
  }
  const bool written_ahead = ahead != nullptr;
  const auto f =
      written_ahead ? std::move(ahead) : open_KEL_file(std::move(target));
  if (!f->is_open() && !written_ahead) {
    if (EndsTheRun(*f)) {
      // The run ends there, after the data set's new table.
      if (!PlaceFiles(table, nullptr, KelTarget{}).table) {
        ReportTableFailure(run, name, table);
      }
      return EndRun(run, "SavePlotFile", Outcome::kNoPlots, *f);
    }
    return without_plot(f->target(), OpenFailure(*f));
  }
  const bool written =
      written_ahead || (fit.made != nullptr ? f->Write(fit.made->plot.data(),
                                                       fit.made->plot.size())
                                            : WritePlotLines(*f, samples));
  if (!written_ahead && (!written || !f->Close())) {
    console.Message(">>>>> writing error");
    return without_plot(f->target(), CannotWrite(*f));
  }
  const Placed placed = PlaceFiles(table, f.get(), f->target());
  if (placed.table && !placed.plot) {
    console.Message(">>>>> writing error");
  }
  return placed.plot ? Outcome::kWritten
                     : Unplotted(run, name, table, placed, CannotWrite(*f));
}
