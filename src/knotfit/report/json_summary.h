// The run's diagnostics, machine-readable: the --json file. Its schema is in
// the user guide (docs/guide.md).
#ifndef KNOTFIT_REPORT_JSON_SUMMARY_H
#define KNOTFIT_REPORT_JSON_SUMMARY_H

#include "console/chunk_writer.h"
#include "report/run_report.h"

#include <deque>
#include <string>

// A data set's object in the summary's list.
std::string JsonEntry(const DataSetRecord &r);

// A shard's entry for knotfit-merge: the data set's number in the whole
// input, its entry's members, and with the report its row and figure:
// {"number": 7, <JsonEntry's members>, "row": "...", "figure": "..."}.
std::string ShardJsonEntry(const DataSetRecord &r);

// The summary: the run's totals (after the shard, for a shard's), then
// every data set's entry.
void JsonSummary(const std::deque<DataSetRecord> &records,
                 const RecordTotals &totals, ChunkWriter &out);

#endif
