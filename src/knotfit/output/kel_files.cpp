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
FilesPlaced EndRun(Console &console, const std::string &place,
                   const char *writer, Outcome outcome,
                   const ReplacementFile &f) {
  console.Message(std::string(kModule) + "(" + writer + ") error opening file");
  console.Message("knotfit: " + place + OpenFailure(f));
  if (!f.problem().missing.empty()) {
    console.Message(MkdirHint({f.problem().missing}));
  }
  return {outcome, {}};
}

std::string CannotWrite(const ReplacementFile &f) {
  return "cannot write '" + Quoted(f.path()) + "': " + std::strerror(f.error());
}

// ">>>>> writing error", then what failed and what it left: kFailed.
FilesPlaced TableFailure(Console &console, const std::string &place,
                         std::string_view name, const ReplacementFile &table) {
  console.Message(">>>>> writing error");
  std::string problem = CannotWrite(table);
  PrintDataSetMessage(console, place, name, problem,
                      table.had_previous() ? "previous file kept"
                                           : "no file written");
  return {Outcome::kFailed, std::move(problem)};
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
Placed RenameBoth(ReplacementFile &table, ReplacementFile *plot,
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
FilesPlaced Unplotted(Console &console, const std::string &place,
                      std::string_view name, const ReplacementFile &table,
                      const Placed &placed, std::string problem) {
  if (!placed.table) {
    return TableFailure(console, place, name, table);
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
  PrintDataSetMessage(console, place, name, problem, consequence);
  return {Outcome::kUnplotted, std::move(problem)};
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

std::unique_ptr<ReplacementFile>
open_KEL_file(KelTarget target, ReplacementFile::Creator creator) {
  auto f = std::make_unique<ReplacementFile>(std::move(target));
  f->Create(creator);
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

std::string SampleFit(const knotfit::detail::DataSetFit &fit,
                      std::vector<knotfit::PlotSample> &samples) {
  const double *x = fit.x();
  knotfit::detail::DataSetFit::Walk walk;
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

WrittenFile SaveKEL(const knotfit::detail::DataSetFit &fit, KelTarget target,
                    ChunkWriter *trace, Workers *workers,
                    ReplacementFile::Creator creator) {
  WrittenFile made;
  made.file = open_KEL_file(std::move(target), creator);
  ReplacementFile &f = *made.file;
  made.created = f.is_open();
  if (!made.created) {
    return made;
  }
  if (trace != nullptr) {
    trace->Append(" writing : \n ");
  }
  made.complete =
      WriteCoefficientTable(f, trace, fit.fields(), fit.form(), workers) &&
      f.Close();
  if (made.complete && trace != nullptr) {
    trace->Append("done\n");
  }
  return made;
}

WrittenFile SavePlotFile(const knotfit::detail::DataSetFit &fit,
                         KelTarget target, ReplacementFile::Creator creator) {
  std::vector<knotfit::PlotSample> samples;
  std::string problem = SampleFit(fit, samples);
  if (!problem.empty()) {
    WrittenFile none;
    none.file = std::make_unique<ReplacementFile>(std::move(target));
    none.unplottable = std::move(problem);
    return none;
  }
  WrittenFile made;
  made.file = open_KEL_file(std::move(target), creator);
  made.created = made.file->is_open();
  made.complete =
      made.created && WritePlotLines(*made.file, samples) && made.file->Close();
  return made;
}

FilesPlaced PlaceFiles(std::string_view name, const std::string &place,
                       WrittenFile &table, WrittenFile &plot,
                       Console &console) {
  ReplacementFile &t = *table.file;
  if (!table.created) {
    if (EndsTheRun(t)) {
      return EndRun(console, place, "SaveKEL", Outcome::kNoTables, t);
    }
    std::string problem = OpenFailure(t);
    PrintDataSetMessage(console, place, name, problem, "skipped");
    return {Outcome::kFailed, std::move(problem)};
  }
  if (!table.complete) {
    return TableFailure(console, place, name, t);
  }
  // The files are put in place after what was printed before them.
  console.WaitForOutput();
  // Without a new plot file the new table still goes in place, and the old
  // plot file, which does not belong to it, goes.
  ReplacementFile &p = *plot.file;
  auto without_plot = [&](const KelTarget &old, std::string problem) {
    return Unplotted(console, place, name, t, RenameBoth(t, nullptr, old),
                     std::move(problem));
  };
  if (!plot.unplottable.empty()) {
    return without_plot(p.target(), plot.unplottable);
  }
  if (!plot.created) {
    if (EndsTheRun(p)) {
      // The run ends there, after the data set's new table.
      if (!RenameBoth(t, nullptr, KelTarget{}).table) {
        TableFailure(console, place, name, t);
      }
      return EndRun(console, place, "SavePlotFile", Outcome::kNoPlots, p);
    }
    return without_plot(p.target(), OpenFailure(p));
  }
  if (!plot.complete) {
    console.Message(">>>>> writing error");
    return without_plot(p.target(), CannotWrite(p));
  }
  const Placed placed = RenameBoth(t, &p, p.target());
  if (placed.table && !placed.plot) {
    console.Message(">>>>> writing error");
  }
  return placed.plot
             ? FilesPlaced{Outcome::kWritten, {}}
             : Unplotted(console, place, name, t, placed, CannotWrite(p));
}
