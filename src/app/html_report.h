// The --report page: one self-contained HTML file (inline style, script and
// SVG; nothing fetched) with an index of every data set of the run and a
// plot of each fit, drawn by the page as it scrolls into view.
#ifndef KNOTFIT_APP_HTML_REPORT_H
#define KNOTFIT_APP_HTML_REPORT_H

#include "run_report.h"

#include <string>
#include <vector>

std::string HtmlReport(const std::vector<DataSetRecord> &records,
                       size_t failed_fail_on);

#endif
