#include "driver.h"

#include "console/chunk_writer.h"
#include "console/messages.h"
#include "fit/big_array.h"
#include "input/number_text.h"
#include "input/point_parser.h"
#include "kel_path.h"

#include "knotfit_internal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

// A data set's points as read, for --sort, --ties and --missing: the line
// of each point, and whether it holds a missing value.
struct MeasuredPoints {
  knotfit::detail::MeasuredRules rules;
  BigArray<uint64_t> lines;
  BigArray<unsigned char> missing;
  void clear() {
    lines.clear();
    missing.clear();
  }
};

// Applies the rules to x and y, which keep the points left, and to the
// lines they were read on (kept, in the points' order). Empty, or the one
// problem of the rules themselves: a mean that overflows.
std::string Measure(BigArray<double> &x, BigArray<double> &y,
                    BigArray<double> *w, MeasuredPoints &points,
                    MeasuredAccount &account) {
  std::vector<size_t> index(x.size());
  account.counts = knotfit::detail::ApplyMeasuredRules(
      x.size(), x.data(), y.data(), index.data(), points.missing.data(),
      points.rules);
  const knotfit::detail::MeasuredCounts &counts = account.counts;
  account.first_dropped_line = points.lines[counts.first_dropped];
  account.first_merged_line = points.lines[counts.first_merged];
  x.Truncate(counts.used());
  y.Truncate(counts.used());
  if (counts.overflowed > 0) { // the sum of the y overflowed, not one y
    return "the mean of " + std::to_string(counts.overflowed) +
           " y at x = " + knotfit::detail::ShortNumber(counts.overflow_x) +
           " overflows a double (--ties mean), line " +
           std::to_string(points.lines[counts.overflow_at]);
  }
  const size_t n = x.size();
  if (w != nullptr) { // the weights follow their points
    const std::vector<double> read(w->data(), w->data() + w->size());
    for (size_t i = 0; i < n; ++i) {
      (*w)[i] = read[index[i]];
    }
    w->Truncate(n);
  }
  const std::vector<uint64_t> read(points.lines.data(),
                                   points.lines.data() + points.lines.size());
  for (size_t i = 0; i < n; ++i) {
    points.lines[i] = read[index[i]];
  }
  points.lines.Truncate(n);
  return {};
}

// Hands a data set to handle, to be counted in tally in its turn; the
// points are cleared for the next. skipped: why the reader skips it, at
// line and column; a data set too long for a table is skipped here. Either
// way it is handed over, so that it is reported, recorded and counted in
// its turn like every other. number: its number in the whole input;
// measured: the points as read, for the rules; w: their weights, or null.
void CloseDataSet(DataSetHandler &handle, Tally &tally, BigArray<double> &x,
                  BigArray<double> &y, const PointPlaces *points,
                  const std::string &name, uint64_t number, uint64_t line,
                  bool warned, const InputSettings &input,
                  std::string skipped = {}, size_t column = 0,
                  MeasuredPoints *measured = nullptr,
                  BigArray<double> *w = nullptr) {
  tally.summary().points += x.size();
  std::optional<MeasuredAccount> account;
  if (measured != nullptr && !x.empty() && skipped.empty()) {
    account.emplace();
    skipped = Measure(x, y, w, *measured, *account);
  }
  if (skipped.empty() &&
      x.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    skipped = std::to_string(x.size()) +
              " points, more than a coefficient table holds";
  }
  DataSet set;
  set.n = skipped.empty() ? static_cast<int32_t>(x.size()) : 0;
  set.x = x.data();
  set.y = y.data();
  set.name = name;
  set.place = {input.shown, line, column};
  set.skipped = skipped;
  set.points = account ? nullptr : points;
  set.measured = account;
  set.lines = account ? measured->lines.data() : nullptr;
  set.w = w != nullptr ? w->data() : nullptr;
  set.warned = warned;
  set.number = number;
  handle.Handle(set, tally);
  x.clear();
  y.clear();
  if (w != nullptr) {
    w->clear();
  }
  if (measured != nullptr) {
    measured->clear();
  }
}

// What a token that is not a number as a whole may be, for the warning.
const char *Guess(std::string_view token) {
  if (knotfit::detail::IsMissingText(token)) {
    return " (a missing value? use --missing skip)";
  }
  if (token.find(',') != std::string_view::npos) {
    return " (a comma, a decimal comma or a header?)";
  }
  return token.substr(0, 1) == "#" ? " (a comment?)" : "";
}

// The reading loop; kMeasured: the rules of --sort, --ties or --missing
// apply, and each point's line and missing values are kept for them (a
// loop of its own, so that a run without them does no more per pair).
template <bool kMeasured>
RunSummary ReadPairs(TokenReader &reader, DataSetHandler &handle,
                     Console &console, const InputSettings &input,
                     const RunSummary &before) {
  auto at = [&input](uint64_t line) { return Place(input.shown, line); };
  Tally tally(input);
  RunSummary &summary = tally.summary();
  // The points: no copy when they grow, and huge pages for long data sets.
  BigArray<double> x;
  BigArray<double> y;
  PointParser points(input.workers, x, y, console);
  std::optional<MeasuredPoints> measured;
  if constexpr (kMeasured) {
    measured.emplace();
    measured->rules = input.measured;
  }
  std::string name;
  std::string_view first;
  std::string_view second;
  TokenReader::Pair pair;
  size_t pairs = 0;
  bool name_second_seen = false;
  bool warned = false;      // about a token of this data set
  uint64_t first_point = 0; // the line of the data set's first point
  // Another shard's data set: its points are passed over, unread.
  DataSetNumbers &numbers = *input.numbers;
  bool ours = numbers.NextIsOurs();
  auto progress = [&] {
    console.Progress(reader.bytes_read(),
                     before.points + summary.points + points.size(),
                     before.written + summary.written);
  };
  // Read as atof reads it, as always; but the user hears of a token that
  // is not a number as a whole, once per data set, in its place among the
  // messages: the points parsed ahead are settled before any other message.
  auto settle = [&] {
    points.PutInPlace();
    const std::optional<PointParser::Suspect> &suspect = points.suspect();
    // A missing value that --missing skip drops is noted with its data set.
    if (suspect && !warned &&
        !(input.measured.skip_missing &&
          knotfit::detail::IsMissingText(suspect->token))) {
      warned = true;
      console.Message(
          "knotfit: " + at(suspect->line) + "'" + Quoted(suspect->token) +
          "' is not a number as a whole, read as " +
          knotfit::detail::ShortNumber(suspect->value) + Guess(suspect->token));
    }
  };
  while ((pair = reader.NextPair(first, second)) == TokenReader::Pair::kPair) {
    ++pairs;
    if (pairs % 4096 == 0) {
      progress();
      handle.Poll();
      if (summary.end_status != 0) {
        return summary;
      }
    }
    if (first != "NAME") {
      // NAME as the second token: the pairing is shifted (a header line, a
      // missing or extra value), so the data set it should close is lost.
      if (second == "NAME" && !name_second_seen) {
        name_second_seen = true;
        settle();
        console.Message("knotfit: " + at(reader.second_line()) + "pair " +
                        std::to_string(pairs) +
                        " has NAME as its second token: a token is missing "
                        "or extra before it");
        ++summary.failed;
      }
      if (!ours) {
        continue;
      }
      if (points.size() == 0) {
        first_point = reader.first_line();
      }
      if (reader.held_nul()) {
        points.AddHoldingNul(first, second, reader.first_whole(),
                             reader.second_whole(), reader.first_line(),
                             reader.second_line());
      } else {
        points.Add(first, second, reader.first_line(), reader.second_line());
      }
      if constexpr (kMeasured) {
        measured->lines.push_back(reader.first_line());
        measured->missing.push_back(
            knotfit::detail::IsMissingText(first) ||
                    knotfit::detail::IsMissingText(second)
                ? 1
                : 0);
      }
      if (!warned && points.suspect()) {
        settle(); // parsed on the spot: warned at once
      }
      continue;
    }
    const DataSetNumbers::Turn turn = numbers.TakePlanned();
    ours = numbers.NextIsOurs();
    if (!turn.ours) {
      continue;
    }
    settle();
    if (!console.quiet()) {
      EchoPair(console.out(), points.size(), first, second);
    }
    // A NUL byte in the name skips its data set: it is kept whole.
    name.assign(reader.held_nul() ? reader.second_whole() : second);
    if constexpr (kMeasured) {
      CloseDataSet(handle, tally, x, y, &points.places(), name, turn.number,
                   reader.first_line(), warned, input, {}, 0, &*measured);
    } else {
      CloseDataSet(handle, tally, x, y, &points.places(), name, turn.number,
                   reader.first_line(), warned, input);
    }
    if (summary.end_status != 0) {
      return summary;
    }
    points.Clear();
    warned = false;
    progress();
  }
  settle();
  handle.Finish();
  // After a failed read the input did not end here: what is left over is
  // not known to be left over, and the caller reports the read.
  if (summary.end_status != 0 || reader.error() != 0) {
    return summary;
  }
  // Read but never written: the run did not do what the input asked.
  if (!x.empty()) {
    console.Message("knotfit: " + at(first_point) + std::to_string(x.size()) +
                    (x.size() == 1 ? " point" : " points") +
                    " after the last NAME line not written");
    ++summary.failed;
  }
  if (pair == TokenReader::Pair::kLoneToken) {
    console.Message("knotfit: " + at(reader.first_line()) + "unpaired token '" +
                    Quoted(reader.held_nul() ? reader.first_whole() : first) +
                    "' at end of input ignored");
    ++summary.failed;
  }
  return summary;
}

} // namespace

void PlanInput(TokenReader &reader, DataSetNumbers &numbers) {
  std::string_view first;
  std::string_view second;
  while (reader.NextPair(first, second) == TokenReader::Pair::kPair) {
    if (first == "NAME") {
      numbers.Plan(reader.held_nul() ? reader.second_whole() : second);
    }
  }
}

RunSummary ProcessInput(TokenReader &reader, DataSetHandler &handle,
                        Console &console, const InputSettings &input,
                        const RunSummary &before) {
  return input.measured.any()
             ? ReadPairs<true>(reader, handle, console, input, before)
             : ReadPairs<false>(reader, handle, console, input, before);
}

RunSummary ProcessCsv(CsvReader &reader, const std::string &name,
                      DataSetHandler &handle, Console &console,
                      const InputSettings &input) {
  Tally tally(input);
  RunSummary &summary = tally.summary();
  // One data set per y column; the first one's rows are echoed as they are
  // read, the others' kept for their turn (with --shard all of them, as
  // which are this shard's is known at their turn).
  const size_t curves = reader.curves();
  std::deque<BigArray<double>> x(curves), y(curves);
  // --weights: every curve's own copy, as the rules drop and sort its points
  // on their own.
  const bool weighted = reader.weighted();
  std::deque<BigArray<double>> w(weighted ? curves : 0);
  std::deque<MeasuredPoints> measured(input.measured.any() ? curves : 0);
  std::vector<std::string> x_text;
  std::vector<std::vector<std::string>> y_text(curves);
  const bool sharded = input.numbers->shard().given();
  const bool kept = (curves > 1 || sharded) && !console.quiet();
  PointPlaces places; // of the one curve's points, when there is one
  CsvReader::Row row;
  while (reader.Next(row)) {
    // A curve with a problem of its own keeps its points before its line.
    if (!console.quiet() && !sharded && reader.curve_problem(0) == nullptr) {
      EchoPair(console.out(), x[0].size(), row.text[0], row.text[1]);
    }
    if (kept) {
      x_text.emplace_back(row.text[0]);
    }
    if (curves == 1) {
      places.Add(x[0].size(), row.value[0], row.value[1], reader.line(),
                 reader.line());
    }
    for (size_t c = 0; c < curves; ++c) {
      if (reader.curve_problem(c) != nullptr) {
        continue;
      }
      x[c].push_back(row.value[0]);
      y[c].push_back(row.value[c + 1]);
      if (kept && (c > 0 || sharded)) {
        y_text[c].emplace_back(row.text[c + 1]);
      }
      if (weighted) {
        w[c].push_back(row.value.back());
      }
      if (!measured.empty()) {
        measured[c].rules = input.measured;
        measured[c].lines.push_back(reader.line());
        measured[c].missing.push_back(row.missing[0] | row.missing[c + 1] |
                                      (weighted ? row.missing.back() : 0));
      }
    }
  }
  places.SetColumns(reader.x_column(), reader.y_column());
  if (reader.error() != 0) {
    return summary; // the caller reports the input as unreadable
  }
  for (size_t c = 0; c < curves; ++c) {
    // "air.Ozone", "air.Temp": each curve its own files.
    const std::string curve =
        curves == 1 ? name : name + "." + reader.ColumnLabel(c + 1);
    const DataSetNumbers::Turn turn = input.numbers->Take(curve);
    if (!turn.ours) {
      continue;
    }
    if ((c > 0 || sharded) && kept) {
      for (size_t i = 0; i < y_text[c].size(); ++i) {
        EchoPair(console.out(), i, x_text[i], y_text[c][i]);
      }
    }
    MeasuredPoints *rules = measured.empty() ? nullptr : &measured[c];
    BigArray<double> *weights = weighted ? &w[c] : nullptr;
    if (const CsvReader::CurveProblem *own = reader.curve_problem(c)) {
      CloseDataSet(handle, tally, x[c], y[c], nullptr, curve, turn.number,
                   own->line, false, input, own->what, own->column, rules,
                   weights);
    } else if (!reader.problem().empty()) {
      CloseDataSet(handle, tally, x[c], y[c], nullptr, curve, turn.number,
                   reader.line(), false, input, reader.problem(),
                   reader.column(), rules, weights);
    } else {
      if (!console.quiet()) {
        EchoPair(console.out(), x[c].size(), "NAME", curve);
      }
      CloseDataSet(handle, tally, x[c], y[c], curves == 1 ? &places : nullptr,
                   curve, turn.number, reader.first_row_line(), false, input,
                   {}, 0, rules, weights);
    }
    if (summary.end_status != 0) {
      return summary;
    }
  }
  handle.Finish();
  return summary;
}
