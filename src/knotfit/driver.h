// The reading loops: data sets in (token pairs, or a CSV file's columns),
// fitted and written, the echo on standard output.
#ifndef KNOTFIT_DRIVER_H
#define KNOTFIT_DRIVER_H

#include "console/console.h"
#include "data_set.h"
#include "input/csv_reader.h"
#include "input/token_reader.h"
#include "tally.h"

#include <string>

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

// Reads the pairs of an input for its NAME pairs alone, planning each data
// set's turn in numbers: with --shard, before the input is read, so that
// the points of another shard's data sets are passed over unparsed.
void PlanInput(TokenReader &reader, DataSetNumbers &numbers);

// Reads a CSV input as one data set named name: echoes each data row as a
// pair and then the pair NAME <name>, and hands the data set to handle; a
// field that is not a number skips it, handed over as skipped.
RunSummary ProcessCsv(CsvReader &reader, const std::string &name,
                      DataSetHandler &handle, Console &console,
                      const InputSettings &input);

#endif
