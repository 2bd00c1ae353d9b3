// The reading loops: data sets in (token pairs, or a CSV file's columns),
// fitted and written, the echo on standard output.
#ifndef KNOTFIT_DRIVER_H
#define KNOTFIT_DRIVER_H

#include "console/console.h"
#include "input/csv_reader.h"
#include "input/point_places.h"
#include "input/token_reader.h"
#include "outcome.h"
#include "parallel/workers.h"

#include "knotfit_internal.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

struct RunSummary {
  size_t written = 0;   // data sets whose table was written, all below
                        // included
  size_t unplotted = 0; // data sets whose table was written, not their plot
  size_t warned = 0;    // data sets written with a warning
  size_t skipped = 0;   // data sets skipped, or their table not written
  size_t flagged = 0;   // data sets written but flagged by --fail-on
  size_t failed = 0;    // what fails the run: skipped data sets, tables
                        // without their plot file, input read but never
                        // written, warnings that fail
  uint64_t points = 0;
  int end_status = 0; // 255 or 254 when an outcome ended the run
  RunSummary &operator+=(const RunSummary &other);
};

// The closing line of a run that skipped or warned: "knotfit: 9997 data sets
// written, 3 skipped, 1 written without its plot file, 2 written with
// warnings, 1 failed --fail-on" (counts of 0 after the first left out).
std::string SummaryLine(const RunSummary &summary);

// What --sort, --ties and --missing made of a data set's points, and the
// lines of the first point dropped and of the first merged away.
struct MeasuredAccount {
  knotfit::detail::MeasuredCounts counts;
  uint64_t first_dropped_line = 0, first_merged_line = 0;
};

// A data set at its NAME pair: its points and name, and where it stands in
// its input.
struct DataSet {
  int32_t n = 0;
  const double *x = nullptr;
  const double *y = nullptr;
  std::string_view name;  // the whole NAME token, NUL bytes and all
  std::string_view input; // as messages name it: its path, or "-"
  std::string_view place; // "input:12: ", where its messages point
  uint64_t line = 0;      // of its NAME pair
  // Why the reader skips it before any fit (n is then 0), as its message
  // and its record give it; empty when it does not.
  std::string_view skipped;
  // Where the points its messages can name were read; null: unknown, and
  // those messages point at place too.
  const PointPlaces *points = nullptr;
  // With --sort, --ties or --missing: what they did to its points (the
  // points above are those that are left).
  std::optional<MeasuredAccount> measured{};
  // Its points' weights (--weights), n of them; null: every weight 1.
  const double *w = nullptr;
};

struct PreparedDataSet; // made ahead by a worker thread (-j), see
                        // fit/generate.h

// Fits and writes a data set, with what was made of it ahead or null; one
// the reader skipped is reported and recorded as skipped.
using WriteDataSet =
    std::function<DataSetOutcome(const DataSet &set, PreparedDataSet *ahead)>;

// What is done with a data set at its NAME pair: it is fitted and written,
// at once or later (several threads). Either way done gets its outcome on
// the reading thread, in input order, by the time Finish returns: what
// follows from an outcome (counts, messages) is done there, as with one
// thread.
using Done = std::function<void(DataSetOutcome)>;
class DataSetHandler {
public:
  virtual ~DataSetHandler() = default;
  virtual void Handle(const DataSet &set, const Done &done) = 0;
  // A point between pairs (every few thousand), and the input's end.
  virtual void Poll() {}
  virtual void Finish() {}
};

// A handler that writes each data set at once.
class WriteAtOnce final : public DataSetHandler {
public:
  explicit WriteAtOnce(WriteDataSet write) : write_(std::move(write)) {}
  void Handle(const DataSet &set, const Done &done) override;

private:
  WriteDataSet write_;
};

// The data sets a run has written, by the file they went to: a later one of
// the same name replaces the earlier files, and the user hears of it.
class WrittenNames {
public:
  // Records that name was written from place ("input:12"); returns the
  // place of the data set it replaces, or an empty string.
  std::string Replaces(std::string_view name, const std::string &place);

private:
  std::unordered_map<std::string, std::string> places_;
};

// One input as the reading loops see it.
struct InputSettings {
  std::string shown;               // how messages name it: its path, or "-"
  bool strict = false;             // a warning fails the run
  WrittenNames *written = nullptr; // the run's, across its inputs
  Workers *workers = nullptr;      // -j: they parse long data sets' points
  knotfit::detail::MeasuredRules measured{}; // --sort, --ties, --missing
  bool equal_x = false; // the method merges equal x itself (smooth)
};

// Reads pairs until the input ends: echoes each pair (unless the console is
// quiet), collects points, and hands every data set to handle at its NAME
// pair. A token that is not a number as a whole is reported once per data
// set; points left after the last NAME pair, an unpaired last token and a
// NAME in the second place of a pair are reported and count as failures.
// An outcome that ends the run stops the reading at once, reporting nothing
// more. Every data set handed over is done with before it returns. before
// (the run's summary so far) is added to for the progress line.
RunSummary ProcessInput(TokenReader &reader, DataSetHandler &handle,
                        Console &console, const InputSettings &input,
                        const RunSummary &before = {});

// Reads a CSV input as one data set named name: echoes each data row as a
// pair and then the pair NAME <name>, and hands the data set to handle; a
// field that is not a number skips it, handed over as skipped.
RunSummary ProcessCsv(CsvReader &reader, const std::string &name,
                      DataSetHandler &handle, Console &console,
                      const InputSettings &input);

#endif
