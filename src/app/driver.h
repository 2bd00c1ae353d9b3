// The reading loops: data sets in (token pairs, or a CSV file's columns),
// fitted and written, the echo on standard output.
#ifndef KNOTFIT_DRIVER_H
#define KNOTFIT_DRIVER_H

#include "console.h"
#include "csv_reader.h"
#include "outcome.h"
#include "token_reader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

struct RunSummary {
  size_t written = 0; // data sets written, those with a warning included
  size_t warned = 0;  // data sets written with a warning
  size_t skipped = 0; // data sets skipped or not completely written
  size_t flagged = 0; // data sets written but flagged by --fail-on
  size_t failed = 0;  // what fails the run: skipped data sets, input read but
                      // never written, warnings that fail
  uint64_t points = 0;
  int end_status = 0; // 255 or 254 when an outcome ended the run
  RunSummary &operator+=(const RunSummary &other);
};

// The closing line of a run that skipped or warned: "knotfit: 9997 data sets
// written, 3 skipped, 2 written with warnings" (counts of 0 after the first
// left out).
std::string SummaryLine(const RunSummary &summary);

// What is done with a data set at its NAME pair; place ("input:12: ") is
// where its messages point, line the line in it.
using DataSetHandler = std::function<Outcome(
    int32_t n, const double *x, const double *y, const char *name,
    const std::string &place, uint64_t line)>;

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
};

// Reads pairs until the input ends: echoes each pair (unless the console is
// quiet), collects points, and hands every data set to handle at its NAME
// pair. A token that is not a number as a whole is reported once per data
// set; points left after the last NAME pair, an unpaired last token and a
// NAME in the second place of a pair are reported and count as failures.
// An outcome that ends the run stops the reading at once, reporting nothing
// more. before (the run's summary so far) is added to for the progress line.
RunSummary ProcessInput(TokenReader &reader, const DataSetHandler &handle,
                        Console &console, const InputSettings &input,
                        const RunSummary &before = {});

// Reads a CSV input as one data set named name: echoes each data row as a
// pair and then the pair NAME <name>, and hands the data set to handle; a
// field that is not a number skips it.
RunSummary ProcessCsv(CsvReader &reader, const std::string &name,
                      const DataSetHandler &handle, Console &console,
                      const InputSettings &input);

#endif
