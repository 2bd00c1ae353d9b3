// A data set at its NAME pair, as the reading loops hand it on: its points,
// its name and where it stands in its input.
#ifndef KNOTFIT_DATA_SET_H
#define KNOTFIT_DATA_SET_H

#include "input/point_places.h"

#include "knotfit_internal.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Where something stands in an input, as messages name it: the input ("-"
// for standard input), the line and, for a CSV field, the column (0: none).
struct SourcePlace {
  std::string_view input;
  uint64_t line = 0;
  size_t column = 0;
};

// What --sort, --ties and --missing made of a data set's points, and the
// lines of the first point dropped and of the first merged away.
struct MeasuredAccount {
  knotfit::detail::MeasuredCounts counts;
  uint64_t first_dropped_line = 0, first_merged_line = 0;
};

struct DataSet {
  int32_t n = 0;
  const double *x = nullptr;
  const double *y = nullptr;
  std::string_view name; // the whole NAME token, NUL bytes and all
  SourcePlace place;     // of its NAME pair (of a CSV file's first row)
  // Why the reader skips it before any fit (n is then 0), as its message
  // and its record give it; empty when it does not.
  std::string_view skipped;
  // Where the points its messages can name were read; null: unknown, and
  // those messages point at place too.
  const PointPlaces *points = nullptr;
  // With --sort, --ties or --missing: what they did to its points (the
  // points above are those that are left).
  std::optional<MeasuredAccount> measured{};
  // With those, the line each point left was read on, n of them, for a
  // message about one point (its index no longer says where it was read).
  const uint64_t *lines = nullptr;
  // Its points' weights (--weights), n of them; null: every weight 1.
  const double *w = nullptr;
  bool warned = false; // the reader warned about one of its tokens
  uint64_t number = 0; // from 0, in the whole input (all FILEs), every shard's
};

class Tally;

// What the reading loops hand each data set to at its NAME pair: it is made
// and, in its turn, on the reading thread and in input order, generated and
// counted in tally, at once or later (worker threads); by the time Finish
// returns, every one handed over is.
class DataSetHandler {
public:
  virtual ~DataSetHandler() = default;
  virtual void Handle(const DataSet &set, Tally &tally) = 0;
  // A point between pairs (every few thousand), and the input's end.
  virtual void Poll() {}
  virtual void Finish() {}
};

#endif
