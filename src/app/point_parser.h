// The points of a data set as its pairs are read: each pair echoed, both
// tokens read as atof reads them, into the data set's x and y. With worker
// threads (-j), the pairs of a long data set are echoed and parsed ahead, a
// batch at a time, while the reading thread reads on; Settle then puts
// every value and echo line in place, in input order, before anything looks
// at them or follows them. A short data set never waits for a worker.
#ifndef KNOTFIT_APP_POINT_PARSER_H
#define KNOTFIT_APP_POINT_PARSER_H

#include "big_array.h"
#include "chunk_writer.h"
#include "console.h"
#include "workers.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// "read(<count>) : <first> \t <second>\n", the count before this pair.
void EchoPair(ChunkWriter &echo, size_t count, std::string_view first,
              std::string_view second);

class PointParser {
public:
  // The first token of the data set that is not a number as a whole (NAME
  // in the second place is no number to be read), for its warning.
  struct Suspect {
    std::string token;
    uint64_t line = 0;
    double value = 0.0; // what it was read as
    bool is_x = false;
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
           uint64_t second_line);
  // The pairs added since the last Clear.
  size_t size() const { return added_; }
  // Puts every pair added in place in x and y, and its echo.
  void Settle();
  // The first suspect token among the pairs in place, if any.
  const std::optional<Suspect> &suspect() const { return suspect_; }
  // Starts the next data set (x and y are cleared by their owner).
  void Clear();

private:
  struct Batch;

  void Place(Batch &batch);
  void PlaceFirst();

  Workers *workers_;
  Console &console_;
  BigArray<double> &x_;
  BigArray<double> &y_;
  size_t added_ = 0;
  std::optional<Suspect> suspect_;
  std::deque<std::unique_ptr<Batch>> batches_; // handed to the workers
  std::unique_ptr<Batch> filling_;             // pairs not yet handed over
  std::vector<std::unique_ptr<Batch>> spare_;  // placed, to be used again
};

#endif
