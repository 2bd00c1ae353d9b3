// The run's diagnostics, machine-readable: the --json file. Its schema is in
// the README.
#ifndef KNOTFIT_APP_JSON_SUMMARY_H
#define KNOTFIT_APP_JSON_SUMMARY_H

#include "chunk_writer.h"
#include "run_report.h"

#include <deque>
#include <string>

// A data set's object in the summary's list.
std::string JsonEntry(const DataSetRecord &r);

// The summary: the run's totals, then every data set's entry.
void JsonSummary(const std::deque<DataSetRecord> &records,
                 const RecordTotals &totals, ChunkWriter &out);

// The text as a JSON string, quotes included; bytes that are not UTF-8
// become U+FFFD.
std::string JsonString(std::string_view text);

// The length of the well-formed UTF-8 sequence of two to four bytes at
// text[i], or 0 when none starts there (an ASCII byte, or a byte that is
// not UTF-8, which the summary and the report write as U+FFFD).
size_t Utf8Length(std::string_view text, size_t i);

#endif
