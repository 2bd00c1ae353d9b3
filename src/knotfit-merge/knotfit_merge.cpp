// knotfit-merge [--json=FILE] [--report=FILE] SHARD.json...: the --json
// summaries of the shards of a run (knotfit --shard=K/N --json=...) joined
// into the summary and report page one run writes. Exit status: 0 when
// written; 1 when a shard is missing or an output could not be written; 255
// for a bad argument, an unreadable or foreign file, a shard given twice or
// shards of different counts.
#include "option_table.h"
#include "report/shard_merge.h"

#include "knotfit_internal.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

namespace {

struct Options {
  std::string json, report;
  std::vector<std::string> shards;
};

const Option<Options> kOptions[] = {
    {"--json", 0, "FILE", "a file", Keep<&Options::json>,
     "write the run's JSON summary to FILE"},
    {"--report", 0, "FILE", "a file", Keep<&Options::report>,
     "write the run's HTML report to FILE (the shards\n"
     "ran with --report)"},
    kHelpRow<Options>,
    kVersionRow<Options>,
};

std::string Conflict(const Options &o) {
  if (o.shards.empty()) {
    return "no shard's summary";
  }
  if (!o.json.empty() && o.json == o.report) {
    return "--json and --report name the same file";
  }
  return {};
}

const Program<Options> kProgram{
    "knotfit-merge",
    "usage: knotfit-merge [--json=FILE] [--report=FILE] SHARD.json...\n"
    "Joins the JSON summaries of the N shards of a run (knotfit\n"
    "--shard=K/N --json=SHARD.json) into the JSON summary and the HTML\n"
    "report one run of the whole input writes, byte for byte.\n",
    kOptions,
    {23, ' '},
    &Options::shards,
    Conflict,
    PlainOperand,
    255};

} // namespace

int main(int argc, char **argv) {
  Options o;
  if (const std::optional<int> status =
          ReadCommandLine(kProgram, argc, argv, o)) {
    return *status;
  }
  auto tell = [](const std::string &message) {
    std::fprintf(stderr, "knotfit-merge: %s\n", message.c_str());
  };
  try {
    RunReportOptions outputs;
    outputs.json = o.json;
    outputs.report = o.report;
    return MergeShards(o.shards, outputs, tell);
  } catch (const std::bad_alloc &) {
    tell("out of memory");
    return 255;
  }
}
