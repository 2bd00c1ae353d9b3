#include "driver.h"

#include "big_array.h"
#include "number_text.h"
#include "report.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

RunSummary ProcessInput(TokenReader &reader, const DataSetHandler &handle,
                        Console &console, const RunSummary &before,
                        const std::string &source) {
  const std::string from = source.empty() ? "" : "'" + Quoted(source) + "': ";
  RunSummary summary;
  // The points: no copy when they grow, and huge pages for long data sets.
  BigArray<double> x;
  BigArray<double> y;
  ChunkWriter &echo = console.out();
  const bool quiet = console.quiet();
  std::string name;
  std::string_view first;
  std::string_view second;
  TokenReader::Pair pair;
  size_t pairs = 0;
  bool name_second_seen = false;
  auto progress = [&] {
    console.Progress(reader.bytes_read(),
                     before.points + summary.points + x.size(),
                     before.written + summary.written);
  };
  while ((pair = reader.NextPair(first, second)) == TokenReader::Pair::kPair) {
    ++pairs;
    if (pairs % 4096 == 0) {
      progress();
    }
    if (!quiet) {
      // "read(<count>) : <first> \t <second>\n", the count before this pair.
      char *text = echo.Room(first.size() + second.size() + 40);
      text = std::copy_n("read(", 5, text);
      text = std::to_chars(text, text + 24, x.size()).ptr;
      text = std::copy_n(") : ", 4, text);
      text = std::copy(first.begin(), first.end(), text);
      text = std::copy_n(" \t ", 3, text);
      text = std::copy(second.begin(), second.end(), text);
      *text++ = '\n';
      echo.Commit(text);
    }
    if (first != "NAME") {
      // NAME as the second token: the pairing is shifted (a header line, a
      // missing or extra value), so the data set it should close is lost.
      if (second == "NAME" && !name_second_seen) {
        name_second_seen = true;
        console.Message("knotfit: " + from + "pair " + std::to_string(pairs) +
                        " has NAME as its second token: a token is missing "
                        "or extra before it");
        ++summary.failed;
      }
      x.push_back(ParseAtof(first));
      y.push_back(ParseAtof(second));
      continue;
    }
    name.assign(second);
    summary.points += x.size();
    if (x.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
      ReportDataSet(console, name.c_str(),
                    std::to_string(x.size()) +
                        " points, more than a coefficient table holds",
                    "skipped");
      ++summary.failed;
    } else {
      const Outcome outcome = handle(static_cast<int32_t>(x.size()), x.data(),
                                     y.data(), name.c_str());
      if (EndsRun(outcome)) {
        summary.end_status = StatusOf(outcome);
        return summary;
      }
      if (outcome == Outcome::kWritten) {
        ++summary.written;
      } else if (outcome == Outcome::kWarned) {
        ++summary.warned;
      } else {
        ++summary.failed;
      }
    }
    x.clear();
    y.clear();
    progress();
  }
  // Read but never written: the run did not do what the input asked.
  if (!x.empty()) {
    console.Message("knotfit: " + from + std::to_string(x.size()) +
                    (x.size() == 1 ? " point" : " points") +
                    " after the last NAME line not written");
    ++summary.failed;
  }
  if (pair == TokenReader::Pair::kLoneToken) {
    console.Message("knotfit: " + from + "unpaired token '" + Quoted(first) +
                    "' at end of input ignored");
    ++summary.failed;
  }
  return summary;
}
