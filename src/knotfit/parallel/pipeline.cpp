#include "parallel/pipeline.h"

#include "kel_path.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Data sets up to this many points are made ahead whole (their points,
// trace, table and plot file in memory: some 130 bytes a point and the plot
// file's few tens of kilobytes); longer ones are written as they are made,
// after every earlier data set.
constexpr int32_t kAheadPoints = 1 << 14;
// At most this many points, and this many data sets per worker, wait to be
// written: a bound on the memory the data sets ahead take. A wide window
// keeps a worker busy while the first data set's worker has lost its core
// for a while: with only four per worker, the other worker often ran out of
// data sets, and a core idled, until the first was done.
constexpr uint64_t kPointsAhead = uint64_t{1} << 18;
constexpr size_t kDataSetsPerWorker = 16;
// What the reader may print while earlier data sets are not yet written,
// before it waits for them.
constexpr size_t kHeldBytes = size_t{4} << 20;

} // namespace

struct DataSetPipeline::Job {
  std::vector<double> x, y, w; // w empty: every weight 1
  std::string name, input, place;
  std::string file; // the name as the file it goes to
  uint64_t line = 0;
  PointPlaces points;
  std::optional<MeasuredAccount> measured;
  bool write_ahead = false; // its files may be written ahead
  Done done;
  PreparedDataSet prepared;
  Workers::Task task;
  Transcript after; // what the reader printed after this data set's NAME
};

DataSetPipeline::DataSetPipeline(const Run &run, WriteDataSet write)
    : run_(run), workers_(*run.workers), write_(std::move(write)) {}

DataSetPipeline::~DataSetPipeline() {
  workers_.Cancel();
  try {
    run_.console.HoldIn(nullptr); // what it held is dropped with the jobs
  } catch (...) {
    // Out of memory while unwinding from it: the held output is lost anyway.
  }
}

void DataSetPipeline::Handle(const DataSet &set, const Done &done) {
  if (ended_) {
    return;
  }
  const int32_t n = set.n;
  if (n > kAheadPoints || !set.skipped.empty()) {
    Finish();
    if (!ended_) {
      done(write_(set, nullptr));
    }
    return;
  }
  auto job = std::make_unique<Job>();
  job->x.assign(set.x, set.x + n);
  job->y.assign(set.y, set.y + n);
  if (set.w != nullptr) {
    job->w.assign(set.w, set.w + n);
  }
  job->name = set.name;
  job->input = set.input;
  job->place = set.place;
  job->line = set.line;
  if (set.points != nullptr) {
    job->points = *set.points;
  }
  job->measured = set.measured;
  job->done = done;
  // Files are written ahead unless an earlier data set in flight goes to the
  // same files: its rename, and what it finds there, must come first.
  job->file = FileName(set.name);
  const auto files_ahead =
      std::count_if(jobs_.begin(), jobs_.end(),
                    [](const auto &earlier) { return earlier->write_ahead; });
  job->write_ahead =
      write_ahead_ && run_.kel != nullptr && !run_.kel->mkdir &&
      2 * (files_ahead + 1) <= kMaxFilesAhead &&
      std::none_of(jobs_.begin(), jobs_.end(), [&job](const auto &earlier) {
        return earlier->file == job->file;
      });
  Job &made = *job;
  made.task.work = [&made, this] {
    Workspace workspace;
    Run run = run_;
    run.weights = made.w.empty() ? nullptr : made.w.data();
    made.prepared =
        PrepareDataSet(static_cast<int32_t>(made.x.size()), made.x.data(),
                       made.y.data(), made.name, run, workspace);
    if (made.write_ahead) {
      WriteAhead(made.prepared, made.name, *run_.kel);
    }
  };
  jobs_.push_back(std::move(job));
  points_ahead_ += static_cast<uint64_t>(n);
  workers_.Start(made.task);
  Hold();
  Poll();
  while (!jobs_.empty() &&
         (jobs_.size() > kDataSetsPerWorker * size_t{workers_.threads()} ||
          points_ahead_ > kPointsAhead)) {
    WriteFirst();
  }
}

void DataSetPipeline::Poll() {
  while (!jobs_.empty() && workers_.Done(jobs_.front()->task)) {
    WriteFirst();
  }
  if (!jobs_.empty() && jobs_.back()->after.size() > kHeldBytes) {
    Finish();
  }
}

void DataSetPipeline::Finish() {
  while (!jobs_.empty()) {
    WriteFirst();
  }
}

// The first data set is written as with one thread, and done with, with
// its points still here; then what the reader printed after its NAME pair
// follows. With the run's end, every later one is dropped, unprinted.
void DataSetPipeline::WriteFirst() {
  Job &job = *jobs_.front();
  workers_.Wait(job.task); // throws what the worker threw: out of memory
  // Files written in their turn on this thread find the file system as with
  // one thread: without the temporary files of later data sets, which could
  // take the space they need. After a file failed ahead, none is any more.
  const PreparedDataSet &made = job.prepared;
  if (made.problem.empty() && made.binary32.empty() && !made.plot_file) {
    write_ahead_ = write_ahead_ && !made.ahead_failed;
    DropFilesAhead();
  }
  Console &console = run_.console;
  console.HoldIn(nullptr);
  const DataSet set{static_cast<int32_t>(job.x.size()),
                    job.x.data(),
                    job.y.data(),
                    job.name,
                    job.input,
                    job.place,
                    job.line,
                    {},
                    &job.points,
                    job.measured,
                    job.w.empty() ? nullptr : job.w.data()};
  const DataSetOutcome outcome = write_(set, &job.prepared);
  job.done(outcome);
  if (EndsRun(outcome.files)) {
    ended_ = true;
    workers_.Cancel();
    jobs_.clear(); // removes the temporary files written ahead
    points_ahead_ = 0;
  } else {
    job.after.ReplayTo(console);
    points_ahead_ -= job.x.size();
    jobs_.pop_front();
  }
  Hold();
}

// Removes the files the later data sets in flight wrote ahead, once their
// workers are done with them; those data sets write them in their turn.
void DataSetPipeline::DropFilesAhead() {
  for (size_t k = 1; k < jobs_.size(); ++k) {
    Job &later = *jobs_[k];
    if (!later.write_ahead) {
      continue;
    }
    try {
      workers_.Wait(later.task);
    } catch (...) {
      // Its error stays with its task and is thrown again in its turn.
    }
    later.write_ahead = false;
    later.prepared.table_file.reset();
    later.prepared.plot_file.reset();
  }
}

// Where the reader's output goes: behind the last data set not yet written,
// to standard output when there is none, nowhere once the run has ended.
void DataSetPipeline::Hold() {
  run_.console.HoldIn(ended_          ? &dropped_
                      : jobs_.empty() ? nullptr
                                      : &jobs_.back()->after);
}
