// knotfit [OPTION]... FILE...: fits every data set of the inputs and writes
// its files. Exit status: the highest of the inputs' statuses: 0 when every
// data set was written, 1 when one was skipped, failed, warned or was
// flagged by --fail-on, or standard output, the --report page or the --json
// summary could not be written, 255 for no argument, a bad option, an
// unreadable input, an unopenable coefficient table or no memory, 254 for an
// unopenable plot file.
#include "command_line.h"
#include "console/console.h"
#include "console/messages.h"
#include "driver.h"
#include "fit/generate.h"
#include "option_table.h"
#include "options.h"
#include "output/file.h"
#include "parallel/pipeline.h"
#include "replacement_file.h"
#include "report/run_report.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A closed standard stream would hand its descriptor to the next file opened,
// and the echo would land in a coefficient table. Hold the slot with /dev/null
// opened the wrong way round instead, so that using it fails with EBADF, as
// the closed stream would: writes to standard output and error are reported,
// and reading a closed standard input ('-') is an input that cannot be read.
void KeepStandardStreamsApart() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free descriptor: fd itself.
      open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    }
  }
}

// The inputs' total size for the progress line; 0 when one has no size
// known in advance (a pipe, standard input).
uint64_t TotalSize(const std::vector<std::string> &inputs) {
  uint64_t total = 0;
  for (const std::string &input : inputs) {
    struct stat st {};
    if (input == "-" || stat(input.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      return 0;
    }
    total += static_cast<uint64_t>(st.st_size);
  }
  return total;
}

// A usage error: what was wrong, and where to look; status 255.
int UsageError(const std::string &why) {
  TellUsageError("knotfit", why);
  return 255;
}

// The data set of a CSV input is named after its file, without the
// directory and the last extension: data/sensor_a.csv is sensor_a.
std::string CsvName(const std::string &path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) {
    name.erase(dot);
  }
  return name;
}

// Reads one input to its end: 0, 1 (a data set failed or was written with a
// warning that fails), 255 (the input could not be opened or read), or the
// status of an outcome that ended the run (255, 254).
int ProcessFile(const std::string &input, const CommandLine &line,
                Console &console, DataSetHandler &handle, RunSummary &total,
                WrittenNames &written, Workers *workers, RunReport *report,
                DataSetNumbers &numbers) {
  File opened;
  std::FILE *in = stdin;
  if (input != "-") {
    opened.reset(std::fopen(input.c_str(), "r"));
    if (!opened) {
      const int error = errno;
      console.Message("error opening input file : " + Quoted(input));
      console.Message("knotfit: cannot open '" + Quoted(input) +
                      "': " + std::strerror(error));
      return 255;
    }
    in = opened.get();
  }
  const InputSettings settings{input,         line.strict, &written, workers,
                               line.measured, report,      &numbers};
  RunSummary summary;
  int error = 0;
  if (line.csv) {
    CsvReader reader(in, line.csv_options);
    summary = ProcessCsv(reader, line.name.empty() ? CsvName(input) : line.name,
                         handle, console, settings);
    error = reader.error();
  } else {
    TokenReader reader(in);
    summary = ProcessInput(reader, handle, console, settings, total);
    error = reader.error();
  }
  total += summary;
  if (summary.end_status != 0) {
    return summary.end_status;
  }
  if (error != 0) {
    console.Message("knotfit: error reading input file '" + Quoted(input) +
                    "': " + std::strerror(error));
    return 255;
  }
  return summary.failed == 0 ? 0 : 1;
}

// With --shard, the token inputs' NAME pairs, so that each data set's shard
// is known before its points are read: each input is read twice, so a pipe
// or a FIFO cannot be one. An input that cannot be opened or read here is
// reported when it is read. Empty, or what is wrong.
std::string PlanShard(const CommandLine &line, DataSetNumbers &numbers) {
  if (!line.shard.given() || line.csv) {
    return {};
  }
  for (const std::string &input : line.inputs) {
    struct stat st {};
    if (stat(input.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      return "option '--shard' reads each input twice: '" + Quoted(input) +
             "' is not a regular file";
    }
    File opened(std::fopen(input.c_str(), "r"));
    if (opened) {
      TokenReader reader(opened.get());
      PlanInput(reader, numbers);
    }
  }
  return {};
}

} // namespace

int main(int argc, char **argv) {
  KeepStandardStreamsApart();
  // A reader that leaves early (knotfit in | head) ends the run quietly.
  std::signal(SIGPIPE, SIG_DFL);
  RemoveTemporaryFileOnSignals();

  const CommandLine line = ParseCommandLine(argc, argv);
  switch (line.action) {
  case CommandLine::Action::kUsage:
    PrintUsage(stderr);
    return 255;
  case CommandLine::Action::kHelp:
    return *Answered(Parsed::kHelp, "knotfit", PrintHelp);
  case CommandLine::Action::kVersion:
    return *Answered(Parsed::kVersion, "knotfit", PrintHelp);
  case CommandLine::Action::kError:
    return UsageError(line.error);
  case CommandLine::Action::kRun:
    break;
  }
  const KelSettings kel{line.kel, line.mkdir};
  // Before any input is read: a report or summary written over an input, the
  // other one, or a table or plot file of the run would destroy it.
  if (const std::string problem =
          OutputPathProblem(line.report, line.inputs, kel);
      !problem.empty()) {
    return UsageError(problem);
  }
  DataSetNumbers numbers(line.shard);
  if (const std::string problem = PlanShard(line, numbers); !problem.empty()) {
    return UsageError(problem);
  }

  Console::Options options;
  options.quiet = line.quiet;
  options.progress =
      !line.no_progress && isatty(STDERR_FILENO) && !isatty(STDOUT_FILENO);
  options.input_bytes = options.progress ? TotalSize(line.inputs) : 0;
  Console console(options);
  Workspace workspace;
  const unsigned jobs = line.jobs == 0 ? UsableCores() : line.jobs;
  std::optional<Workers> workers;
  if (jobs > 1) {
    workers.emplace(jobs);
    if (!line.quiet) {
      console.WriteBehind();
    }
  }
  Workers *threads = workers && workers->threads() > 0 ? &*workers : nullptr;
  // The report draws a smoothing fit's 95% band, from the variances that the
  // fit keeps only when asked: without --report it costs nothing.
  knotfit::detail::Smoothing smoothing = line.smoothing;
  smoothing.details = !line.report.report.empty();
  const Run run{.console = console,
                .method = line.method,
                .table = line.table,
                .workspace = &workspace,
                .workers = threads,
                .kel = &kel,
                .measured = line.measured,
                .tolerance = line.tolerance ? &*line.tolerance : nullptr,
                .verbose = line.verbose,
                .smoothing = smoothing,
                .keep_fit = line.report.any()};
  RunSummary total;
  WrittenNames written;
  int status = 0;
  std::optional<RunReport> report;
  if (line.report.any()) {
    report.emplace(line.report);
  }
  try {
    DataSetPipeline pipeline(run);
    for (const std::string &input : line.inputs) {
      status =
          std::max(status, ProcessFile(input, line, console, pipeline, total,
                                       written, run.workers,
                                       report ? &*report : nullptr, numbers));
      if (total.end_status != 0) {
        status = total.end_status; // the writer's status, as it always was
        break;
      }
    }
    // A run that ended early writes no report, as it prints no summary. An
    // input that could not be opened or read does not end it: the report
    // shows what the others held.
    if (report && total.end_status == 0 && !report->Write(console)) {
      status = std::max(status, 1);
    }
  } catch (const std::bad_alloc &) {
    // Files already written stay; the one being written was removed when
    // its writer unwound. Nothing more of the input is read.
    console.Message("knotfit: out of memory; run ended");
    return 255;
  }
  if (total.skipped + total.unplotted + total.warned + total.flagged > 0 &&
      status < 254) {
    console.Message(SummaryLine(total));
  }
  if (!console.Close()) {
    status = std::max(status, 1);
  }
  return status;
}
