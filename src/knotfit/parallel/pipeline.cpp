#include "parallel/pipeline.h"

#include "kel_path.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Data sets up to this many points are made ahead whole (their points, fit
// and trace in memory, their files beside their targets); longer ones are
// made and written in their turn, streaming, after every earlier data set.
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
  // The data set's own copy of what it is made of; set points into it.
  std::vector<double> x, y, w; // w empty: every weight 1
  std::vector<uint64_t> lines; // of measured points
  std::string name, input;
  std::string file; // the name as the file it goes to
  PointPlaces points;
  DataSet set;
  Tally *tally = nullptr;
  bool files_ahead = false; // its files are written by its worker
  Workspace workspace;
  std::optional<MadeDataSet> made;
  Workers::Task task;
  Transcript after; // what the reader printed after this data set's NAME
};

DataSetPipeline::DataSetPipeline(const Run &run)
    : run_(run), workers_(run.workers) {}

DataSetPipeline::~DataSetPipeline() {
  if (workers_ == nullptr) {
    return;
  }
  workers_->Cancel();
  try {
    run_.console.HoldIn(nullptr); // what it held is dropped with the jobs
  } catch (...) {
    // Out of memory while unwinding from it: the held output is lost anyway.
  }
}

// Whether a data set's files are written ahead by its worker, decided here
// alone: not after a file failed to be written ahead; not beyond the
// temporary files the workers may hold; and not when an earlier data set in
// flight goes to the same files, as its rename, and what it finds there,
// must come first. (Where its directories are missing, its worker finds
// that out and leaves them to its turn.)
bool DataSetPipeline::FilesAhead(const std::string &file) const {
  const auto files_ahead =
      std::count_if(jobs_.begin(), jobs_.end(),
                    [](const auto &earlier) { return earlier->files_ahead; });
  return write_ahead_ && 2 * (files_ahead + 1) <= kMaxFilesAhead &&
         std::none_of(jobs_.begin(), jobs_.end(), [&file](const auto &earlier) {
           return earlier->file == file;
         });
}

void DataSetPipeline::Handle(const DataSet &set, Tally &tally) {
  if (ended_) {
    return;
  }
  const int32_t n = set.n;
  if (workers_ == nullptr || n > kAheadPoints || !set.skipped.empty()) {
    Finish();
    if (!ended_) {
      tally.Add(set, GenerateCubicSpline(set, run_), run_);
    }
    return;
  }
  auto job = std::make_unique<Job>();
  job->x.assign(set.x, set.x + n);
  job->y.assign(set.y, set.y + n);
  if (set.w != nullptr) {
    job->w.assign(set.w, set.w + n);
  }
  if (set.lines != nullptr) {
    job->lines.assign(set.lines, set.lines + n);
  }
  job->name = set.name;
  job->input = set.place.input;
  if (set.points != nullptr) {
    job->points = *set.points;
  }
  job->set = set;
  job->set.x = job->x.data();
  job->set.y = job->y.data();
  job->set.w = job->w.empty() ? nullptr : job->w.data();
  job->set.lines = set.lines != nullptr ? job->lines.data() : nullptr;
  job->set.name = job->name;
  job->set.place.input = job->input;
  job->set.points = set.points != nullptr ? &job->points : nullptr;
  job->tally = &tally;
  job->file = FileName(set.name);
  job->files_ahead = FilesAhead(job->file);
  Job &made = *job;
  made.task.work = [&made, this] {
    made.made.emplace(made.set, run_, made.workspace, made.files_ahead);
  };
  jobs_.push_back(std::move(job));
  points_ahead_ += static_cast<uint64_t>(n);
  workers_->Start(made.task);
  Hold();
  Poll();
  while (!jobs_.empty() &&
         (jobs_.size() > kDataSetsPerWorker * size_t{workers_->threads()} ||
          points_ahead_ > kPointsAhead)) {
    GenerateFirst();
  }
}

void DataSetPipeline::Poll() {
  while (!jobs_.empty() && workers_->Done(jobs_.front()->task)) {
    GenerateFirst();
  }
  if (!jobs_.empty() && jobs_.back()->after.size() > kHeldBytes) {
    Finish();
  }
}

void DataSetPipeline::Finish() {
  while (!jobs_.empty()) {
    GenerateFirst();
  }
}

// The first data set is generated as with one thread, and counted, with
// its points still here; then what the reader printed after its NAME pair
// follows. With the run's end, every later one is dropped, unprinted.
void DataSetPipeline::GenerateFirst() {
  Job &job = *jobs_.front();
  workers_->Wait(job.task); // throws what the worker threw: out of memory
  // Files written in their turn on this thread find the file system as with
  // one thread: without the temporary files of later data sets, which could
  // take the space they need. After a file failed ahead, none is any more.
  MadeDataSet &made = *job.made;
  if (made.WritesInTurn()) {
    write_ahead_ = write_ahead_ && !made.failed();
    DropFilesAhead();
  }
  Console &console = run_.console;
  console.HoldIn(nullptr);
  job.tally->Add(job.set, GenerateCubicSpline(job.set, made, run_), run_);
  if (job.tally->ended()) {
    ended_ = true;
    workers_->Cancel();
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
    if (!later.files_ahead) {
      continue;
    }
    try {
      workers_->Wait(later.task);
    } catch (...) {
      // Its error stays with its task and is thrown again in its turn.
    }
    later.files_ahead = false;
    if (later.made) {
      later.made->DropFiles();
    }
  }
}

// Where the reader's output goes: behind the last data set not yet
// generated, to standard output when there is none, nowhere once the run
// has ended.
void DataSetPipeline::Hold() {
  run_.console.HoldIn(ended_          ? &dropped_
                      : jobs_.empty() ? nullptr
                                      : &jobs_.back()->after);
}
