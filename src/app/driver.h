// The reading loop: token pairs in, data sets fitted and written, the echo on
// standard output.
#ifndef KNOTFIT_DRIVER_H
#define KNOTFIT_DRIVER_H

#include "token_reader.h"

#include <cstddef>
#include <cstdint>

struct RunSummary {
  size_t failed = 0; // data sets skipped or not completely written
};

// What is done with a data set at its NAME pair; non-zero when it failed.
using DataSetHandler = int32_t (*)(int32_t n, const double *x, const double *y,
                                   const char *name);

// Reads pairs until the input ends: echoes each pair, collects points, and
// hands every data set to handle (GenerateCubicSpline fits and writes it)
// at its NAME pair. Points left after the last NAME pair, and an unpaired
// last token, are reported on standard error.
RunSummary ProcessInput(TokenReader &reader, DataSetHandler handle);

#endif
