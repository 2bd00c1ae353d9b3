// Data sets fitted and formatted ahead on worker threads and written in
// input order by the thread that reads them: what `-j N` runs. The workers
// compute, and write a data set's two files into their temporary files when
// nothing can make that differ from writing them in its turn; every rename,
// every byte printed, every message and every outcome, and what follows from
// it (the counts, the report), is made on the reading thread, in input
// order, by the same code as with one thread, so a run shows exactly what it
// shows with one thread.
#ifndef KNOTFIT_PARALLEL_PIPELINE_H
#define KNOTFIT_PARALLEL_PIPELINE_H

#include "console/console.h"
#include "driver.h"
#include "fit/generate.h"
#include "parallel/workers.h"

#include <cstdint>
#include <deque>
#include <memory>

class DataSetPipeline final : public DataSetHandler {
public:
  // run.workers (at least one thread) do the fitting and formatting; write
  // writes each data set in its turn, with what was made of it ahead.
  DataSetPipeline(const Run &run, WriteDataSet write);
  // Drops what was not yet written (a run that ended early or ran out of
  // memory: nothing of it was printed) and gives the console back.
  ~DataSetPipeline() override;
  DataSetPipeline(const DataSetPipeline &) = delete;
  DataSetPipeline &operator=(const DataSetPipeline &) = delete;

  // A short data set is copied and handed to a worker; it is written, and
  // done called, once every earlier one was. A long one, and one the reader
  // skipped, is written at once on this thread, after every earlier one.
  void Handle(const DataSet &set, const Done &done) override;
  // Writes the data sets that are ready; waits for all of them when what
  // the reader printed meanwhile has grown large.
  void Poll() override;
  // Writes every data set handed over.
  void Finish() override;

private:
  struct Job;

  void WriteFirst();
  void DropFilesAhead();
  void Hold();

  Run run_;
  Workers &workers_;
  WriteDataSet write_;
  std::deque<std::unique_ptr<Job>> jobs_; // handed over, not yet written
  uint64_t points_ahead_ = 0;             // in jobs_
  bool write_ahead_ = true;               // no file failed to be written ahead
  bool ended_ = false;                    // an outcome ended the run
  Transcript dropped_; // what the reader prints after the run ended
};

#endif
