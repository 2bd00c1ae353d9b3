// The run's diagnostics, machine-readable: the --json file. Its schema is in
// the README.
#ifndef KNOTFIT_APP_JSON_SUMMARY_H
#define KNOTFIT_APP_JSON_SUMMARY_H

#include "run_report.h"

#include <deque>
#include <string>

std::string JsonSummary(const std::deque<DataSetRecord> &records,
                        size_t failed_fail_on);

// The text as a JSON string, quotes included; bytes that are not UTF-8
// become U+FFFD.
std::string JsonString(std::string_view text);

#endif
