// The reading loop: token pairs in, data sets fitted and written, the echo on
// standard output.
#ifndef KNOTFIT_DRIVER_H
#define KNOTFIT_DRIVER_H

#include "console.h"
#include "outcome.h"
#include "token_reader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct RunSummary {
  size_t failed = 0;  // data sets skipped or not completely written, and
                      // input read but never written
  size_t warned = 0;  // data sets written with a warning
  size_t written = 0; // data sets written without one
  uint64_t points = 0;
  int end_status = 0; // 255 or 254 when an outcome ended the run
};

// What is done with a data set at its NAME pair.
using DataSetHandler = std::function<Outcome(
    int32_t n, const double *x, const double *y, const char *name)>;

// Reads pairs until the input ends: echoes each pair (unless the console is
// quiet), collects points, and hands every data set to handle at its NAME
// pair. Points left after the last NAME pair, an unpaired last token and a
// NAME in the second place of a pair are reported and count as failures.
// An outcome that ends the run stops the reading at once, reporting nothing
// more.
// before (the run's summary so far) is added to for the progress line; a
// source names the input in those reports when there are several.
RunSummary ProcessInput(TokenReader &reader, const DataSetHandler &handle,
                        Console &console, const RunSummary &before = {},
                        const std::string &source = {});

#endif
