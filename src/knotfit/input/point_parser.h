// The points of a data set as its pairs are read: each pair echoed, both
// tokens read as atof reads them, into the data set's x and y. With worker
// threads (-j), the pairs of a long data set are echoed and parsed ahead, a
// batch at a time, while the reading thread reads on; PutInPlace then puts
// every value and echo line in place, in input order, before anything looks
// at them or follows them. A short data set never waits for a worker.
#ifndef KNOTFIT_INPUT_POINT_PARSER_H
#define KNOTFIT_INPUT_POINT_PARSER_H

#include "console/chunk_writer.h"
#include "console/console.h"
#include "fit/big_array.h"
#include "input/number_text.h"
#include "input/point_places.h"
#include "parallel/workers.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// "read(<count>) : <first> \t <second>\n", the count before this pair.
// Inline, as the parsing below: once per pair read.
inline void EchoPair(ChunkWriter &echo, size_t count, std::string_view first,
                     std::string_view second) {
  char *text = echo.Room(first.size() + second.size() + 40);
  text = std::copy_n("read(", 5, text);
  text = std::to_chars(text, text + 24, count).ptr;
  text = std::copy_n(") : ", 4, text);
  text = std::copy(first.begin(), first.end(), text);
  text = std::copy_n(" \t ", 3, text);
  text = std::copy(second.begin(), second.end(), text);
  *text++ = '\n';
  echo.Commit(text);
}

class PointParser {
public:
  // The first token of the data set that is not a number as a whole (NAME
  // in the second place is no number to be read), for its warning.
  struct Suspect {
    std::string token;
    uint64_t line = 0;
    double value = 0.0; // what it was read as
  };

  // Parses into x and y, on workers when there are any, and echoes on the
  // console's standard output unless it is quiet.
  PointParser(Workers *workers, BigArray<double> &x, BigArray<double> &y,
              Console &console);
  // Drops the batches not yet parsed.
  ~PointParser();
  PointParser(const PointParser &) = delete;
  PointParser &operator=(const PointParser &) = delete;

  // A pair read, and the lines its tokens start on.
  void Add(std::string_view first, std::string_view second, uint64_t first_line,
           uint64_t second_line) {
    ++added_;
    if (workers_ != nullptr && added_ > kBatchPairs) {
      AddToBatch(first, second, first_line, second_line);
      return;
    }
    if (!console_.quiet()) {
      // The echo's buffer is held while data sets wait (-j): taken afresh.
      EchoPair(console_.out(), added_ - 1, first, second);
    }
    double x = 0.0;
    double y = 0.0;
    ParsePair(first, second, first_line, second_line, x, y, suspect_);
    places_.Add(added_ - 1, x, y, first_line, second_line);
    x_.push_back(x);
    y_.push_back(y);
  }
  // A pair of which a token holds a NUL byte: echoed as its tokens read as
  // C strings (first, second), and read whole (first_whole, second_whole),
  // so that such a token is not a number as a whole. The pairs before it are
  // put in place first, and it is parsed on the spot: the suspect stays the
  // data set's first.
  void AddHoldingNul(std::string_view first, std::string_view second,
                     std::string_view first_whole,
                     std::string_view second_whole, uint64_t first_line,
                     uint64_t second_line);
  // The pairs added since the last Clear.
  size_t size() const { return added_; }
  // Puts every pair added in place in x and y, and its echo.
  void PutInPlace();
  // The first suspect token among the pairs in place, if any.
  const std::optional<Suspect> &suspect() const { return suspect_; }
  // Where the points in place were read, as far as messages can name them.
  const PointPlaces &places() const { return places_; }
  // Starts the next data set (x and y are cleared by their owner).
  void Clear();

private:
  // Reads one pair into x and y; a token that is not a number as a whole
  // becomes the suspect unless there already is one.
  static void ParsePair(std::string_view first, std::string_view second,
                        uint64_t first_line, uint64_t second_line, double &x,
                        double &y, std::optional<Suspect> &suspect) {
    bool whole_x = true;
    bool whole_y = true;
    x = ParseAtof(first, &whole_x);
    y = ParseAtof(second, &whole_y);
    if (!(whole_x && (whole_y || second == "NAME")) && !suspect) {
      const bool is_x = !whole_x;
      suspect = Suspect{std::string(is_x ? first : second),
                        is_x ? first_line : second_line, is_x ? x : y};
    }
  }

  // A batch handed to a worker holds this many pairs (or fewer, of long
  // tokens): long enough that the hand-over costs little. The first batch's
  // worth of a data set's pairs is parsed on the spot, so that a short data
  // set neither copies its tokens nor waits for a worker.
  static constexpr size_t kBatchPairs = 2048;

  struct Batch;

  void AddToBatch(std::string_view first, std::string_view second,
                  uint64_t first_line, uint64_t second_line);
  void Place(Batch &batch);
  void PlaceFirst();

  Workers *workers_;
  Console &console_;
  BigArray<double> &x_;
  BigArray<double> &y_;
  size_t added_ = 0;
  std::optional<Suspect> suspect_;
  PointPlaces places_;
  std::deque<std::unique_ptr<Batch>> batches_; // handed to the workers
  std::unique_ptr<Batch> filling_;             // pairs not yet handed over
  std::vector<std::unique_ptr<Batch>> spare_;  // placed, to be used again
};

#endif
