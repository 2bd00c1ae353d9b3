// The --report page: one self-contained HTML file (inline style, script and
// SVG; nothing fetched) with an index of every data set of the run and a
// plot of each fit, drawn by the page as it scrolls into view.
#ifndef KNOTFIT_REPORT_HTML_REPORT_H
#define KNOTFIT_REPORT_HTML_REPORT_H

#include "console/chunk_writer.h"
#include "report/run_report.h"

#include <deque>
#include <string>

// Data set i's row of the index.
std::string HtmlIndexRow(const DataSetRecord &r, size_t i);

// Data set i's figure: its caption, its flags in words, and the data its
// plot is drawn from.
std::string HtmlFigure(const DataSetRecord &r, size_t i, const PlotData &plot);

// The page: the index of every data set, then their figures.
void HtmlReport(const std::deque<DataSetRecord> &records,
                const RecordTotals &totals, ChunkWriter &out);

#endif
