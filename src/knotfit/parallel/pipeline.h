// Every data set of a run from its NAME pair to its turn. Without worker
// threads each is made and generated at once. With them (-j N), short data
// sets are made ahead on the workers, their files written beside their
// targets when nothing can make that differ from writing them in their
// turn; every message, every byte printed, every rename and every count is
// made on the reading thread, in input order, by the same functions as with
// one thread, so a run shows exactly what it shows with one thread.
#ifndef KNOTFIT_PARALLEL_PIPELINE_H
#define KNOTFIT_PARALLEL_PIPELINE_H

#include "console/console.h"
#include "data_set.h"
#include "fit/generate.h"
#include "parallel/workers.h"
#include "tally.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class DataSetPipeline final : public DataSetHandler {
public:
  // run.workers, when there are any, make data sets ahead.
  explicit DataSetPipeline(const Run &run);
  // Drops what was not yet generated (a run that ended early or ran out of
  // memory: nothing of it was printed) and gives the console back.
  ~DataSetPipeline() override;
  DataSetPipeline(const DataSetPipeline &) = delete;
  DataSetPipeline &operator=(const DataSetPipeline &) = delete;

  // A short data set is copied and handed to a worker; it is generated
  // once every earlier one was. A long one, one the reader skipped, and
  // every one without workers, is made and generated at once on this
  // thread, after every earlier one.
  void Handle(const DataSet &set, Tally &tally) override;
  // Generates the data sets that are ready; waits for all of them when what
  // the reader printed meanwhile has grown large.
  void Poll() override;
  // Generates every data set handed over.
  void Finish() override;

private:
  struct Job;

  bool FilesAhead(const std::string &file) const;
  void GenerateFirst();
  void DropFilesAhead();
  void Hold();

  Run run_;
  Workers *workers_;
  std::deque<std::unique_ptr<Job>> jobs_; // handed over, not yet generated
  uint64_t points_ahead_ = 0;             // in jobs_
  bool write_ahead_ = true;               // no file failed to be written ahead
  bool ended_ = false;                    // an outcome ended the run
  Transcript dropped_; // what the reader prints after the run ended
};

#endif
