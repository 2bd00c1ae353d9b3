// knotfit-merge: the --json summaries of the N shards of a run (--shard=K/N)
// joined into the summary and the page one run writes, by the run's own
// writers, without the input.
#ifndef KNOTFIT_REPORT_SHARD_MERGE_H
#define KNOTFIT_REPORT_SHARD_MERGE_H

#include "report/run_report.h"

#include <functional>
#include <string>
#include <vector>

// Reads the shards' summaries at paths and writes what outputs names (its
// report and json): 0 when written; 1 when a shard is missing (each one
// told, nothing written) or a file could not be written; 255 when a file
// cannot be read or is not a shard's summary, two are the same shard, the
// shards' counts differ, or --report is asked of a shard run without it.
// tell is handed each message.
int MergeShards(const std::vector<std::string> &paths,
                const RunReportOptions &outputs,
                const std::function<void(const std::string &)> &tell);

#endif
