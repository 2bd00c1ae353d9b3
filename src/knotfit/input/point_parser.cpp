#include "input/point_parser.h"

#include "input/number_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

// At most this many bytes of tokens go into a batch.
constexpr size_t kBatchBytes = size_t{1} << 16;
// At most this many batches wait to be placed, whatever the threads: the
// reading thread is what limits a long data set, and this bounds memory.
constexpr size_t kBatchesAhead = 4;

// Copies a token of a few bytes, as numbers are, in two fixed-size copies
// that may overlap instead of a call with its length; a long one whole.
void CopyToken(char *to, std::string_view token) {
  const char *from = token.data();
  const size_t n = token.size();
  if (n >= 8 && n <= 16) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4 && n < 8) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n > 16) {
    std::memcpy(to, from, n);
  } else {
    for (size_t i = 0; i < n; ++i) {
      to[i] = from[i];
    }
  }
}

} // namespace

// The tokens of up to kBatchPairs pairs, copied, and their values and echo
// once parsed. A batch is used again and again, its memory kept.
struct PointParser::Batch {
  // The tokens one after the other.
  std::vector<char> text;
  size_t used = 0;
  std::vector<size_t> ends;    // the end of each token in text
  std::vector<uint64_t> lines; // the line of each token
  size_t count = 0;            // the echo's count of its first pair
  std::vector<double> x, y;
  std::optional<Suspect> suspect; // the batch's first
  PointPlaces places;             // its points numbered from 0
  Collect echo;
  Workers::Task task;

  Batch() : text(kBatchBytes) {
    ends.reserve(2 * kBatchPairs);
    lines.reserve(2 * kBatchPairs);
  }

  size_t pairs() const { return ends.size() / 2; }
  bool full() const { return pairs() == kBatchPairs || used >= kBatchBytes; }

  void Take(std::string_view token, uint64_t line) {
    if (text.size() - used < token.size()) {
      text.resize(used + token.size());
    }
    CopyToken(text.data() + used, token);
    used += token.size();
    ends.push_back(used);
    lines.push_back(line);
  }

  void Parse(bool echoed) {
    x.resize(pairs());
    y.resize(pairs());
    echo.text.clear();
    ChunkWriter writer(echo);
    for (size_t i = 0; i < pairs(); ++i) {
      const size_t begin = i == 0 ? 0 : ends[2 * i - 1];
      const std::string_view first(text.data() + begin, ends[2 * i] - begin);
      const std::string_view second(text.data() + ends[2 * i],
                                    ends[2 * i + 1] - ends[2 * i]);
      if (echoed) {
        EchoPair(writer, count + i, first, second);
      }
      ParsePair(first, second, lines[2 * i], lines[2 * i + 1], x[i], y[i],
                suspect);
      places.Add(i, x[i], y[i], lines[2 * i], lines[2 * i + 1]);
    }
    writer.Flush();
  }

  void Reset(size_t first_count) {
    used = 0;
    ends.clear();
    lines.clear();
    count = first_count;
    suspect.reset();
    places.Clear();
    task.work = nullptr;
  }
};

PointParser::PointParser(Workers *workers, BigArray<double> &x,
                         BigArray<double> &y, Console &console)
    : workers_(workers), console_(console), x_(x), y_(y) {}

PointParser::~PointParser() {
  if (!batches_.empty()) {
    workers_->Cancel();
  }
}

void PointParser::AddToBatch(std::string_view first, std::string_view second,
                             uint64_t first_line, uint64_t second_line) {
  if (!filling_) {
    if (spare_.empty()) {
      filling_ = std::make_unique<Batch>();
    } else {
      filling_ = std::move(spare_.back());
      spare_.pop_back();
    }
    filling_->Reset(added_ - 1);
  }
  Batch &batch = *filling_;
  batch.Take(first, first_line);
  batch.Take(second, second_line);
  if (!batch.full()) {
    return;
  }
  batch.task.work = [&batch, echoed = !console_.quiet()] {
    batch.Parse(echoed);
  };
  workers_->Start(batch.task);
  batches_.push_back(std::move(filling_));
  // A bound on the memory the batches take: the oldest is placed.
  if (batches_.size() >
      std::min(kBatchesAhead, 2 * size_t{workers_->threads()})) {
    PlaceFirst();
  }
}

void PointParser::AddHoldingNul(std::string_view first, std::string_view second,
                                std::string_view first_whole,
                                std::string_view second_whole,
                                uint64_t first_line, uint64_t second_line) {
  PutInPlace();
  ++added_;
  if (!console_.quiet()) {
    EchoPair(console_.out(), added_ - 1, first, second);
  }
  // atof stops at the NUL as the longest numeric prefix does: the value is
  // the same, and the token is not a number as a whole.
  double x = 0.0;
  double y = 0.0;
  ParsePair(first_whole, second_whole, first_line, second_line, x, y, suspect_);
  places_.Add(added_ - 1, x, y, first_line, second_line);
  x_.push_back(x);
  y_.push_back(y);
}

void PointParser::PutInPlace() {
  while (!batches_.empty()) {
    PlaceFirst();
  }
  if (filling_) {
    filling_->Parse(!console_.quiet());
    Place(*filling_);
    spare_.push_back(std::move(filling_));
  }
}

void PointParser::PlaceFirst() {
  Place(*batches_.front());
  spare_.push_back(std::move(batches_.front()));
  batches_.pop_front();
}

void PointParser::Place(Batch &batch) {
  if (batch.task.work) {
    workers_->Wait(batch.task); // throws what the worker threw: out of memory
  }
  // The batch's first point follows the last point in place: its order is
  // checked here.
  const size_t first = x_.size();
  places_.Add(first, batch.x[0], batch.y[0], batch.lines[0], batch.lines[1]);
  places_.Append(batch.places, first);
  x_.append(batch.x.data(), batch.pairs());
  y_.append(batch.y.data(), batch.pairs());
  if (!suspect_) {
    suspect_ = std::move(batch.suspect);
  }
  if (!console_.quiet()) {
    console_.out().AppendAll(batch.echo.text);
  }
}

void PointParser::Clear() {
  added_ = 0;
  suspect_.reset();
  places_.Clear();
}
