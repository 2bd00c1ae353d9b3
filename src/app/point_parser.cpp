#include "point_parser.h"

#include "number_text.h"

#include <algorithm>
#include <charconv>

void EchoPair(ChunkWriter &echo, size_t count, std::string_view first,
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

namespace {

// A batch handed to a worker holds this many pairs, or this many bytes of
// tokens: long enough that the hand-over costs little. The first batch's
// worth of a data set's pairs is parsed on the spot, so that a short data
// set neither copies its tokens nor waits for a worker.
constexpr size_t kBatchPairs = 4096;
constexpr size_t kBatchBytes = size_t{1} << 20;

// Reads one pair into x and y; a token that is not a number as a whole
// becomes the suspect unless there already is one.
void ParsePair(std::string_view first, std::string_view second,
               uint64_t first_line, uint64_t second_line, double &x, double &y,
               std::optional<PointParser::Suspect> &suspect) {
  bool whole_x = true;
  bool whole_y = true;
  x = ParseAtof(first, &whole_x);
  y = ParseAtof(second, &whole_y);
  if (!(whole_x && (whole_y || second == "NAME")) && !suspect) {
    const bool is_x = !whole_x;
    suspect = PointParser::Suspect{std::string(is_x ? first : second),
                                   is_x ? first_line : second_line,
                                   is_x ? x : y, is_x};
  }
}

} // namespace

// The tokens of up to kBatchPairs pairs, copied, and their values once
// parsed.
struct PointParser::Batch {
  std::string text;            // the tokens one after the other
  std::vector<size_t> ends;    // the end of each token in text
  std::vector<uint64_t> lines; // the line of each token
  size_t count = 0;            // the echo's count of its first pair
  std::vector<double> x, y;
  std::optional<Suspect> suspect; // the batch's first
  std::string echo;
  Workers::Task task;

  size_t pairs() const { return ends.size() / 2; }

  void Parse(bool echoed) {
    x.resize(pairs());
    y.resize(pairs());
    Collect text_out;
    ChunkWriter writer(text_out);
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
    }
    writer.Flush();
    echo = std::move(text_out.text);
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

void PointParser::Add(std::string_view first, std::string_view second,
                      uint64_t first_line, uint64_t second_line) {
  ++added_;
  if (workers_ == nullptr || added_ <= kBatchPairs) {
    if (!console_.quiet()) {
      // The echo's buffer is held while data sets wait (-j): taken afresh.
      EchoPair(console_.out(), added_ - 1, first, second);
    }
    double x = 0.0;
    double y = 0.0;
    ParsePair(first, second, first_line, second_line, x, y, suspect_);
    x_.push_back(x);
    y_.push_back(y);
    return;
  }
  if (!filling_) {
    filling_ = std::make_unique<Batch>();
    filling_->count = added_ - 1;
  }
  Batch &batch = *filling_;
  batch.text.append(first);
  batch.ends.push_back(batch.text.size());
  batch.text.append(second);
  batch.ends.push_back(batch.text.size());
  batch.lines.push_back(first_line);
  batch.lines.push_back(second_line);
  if (batch.pairs() < kBatchPairs && batch.text.size() < kBatchBytes) {
    return;
  }
  batch.task.work = [&batch, echoed = !console_.quiet()] {
    batch.Parse(echoed);
  };
  workers_->Start(batch.task);
  batches_.push_back(std::move(filling_));
  // A bound on the memory the batches take: the oldest is placed.
  if (batches_.size() > 2 * size_t{workers_->threads()}) {
    Place(*batches_.front());
    batches_.pop_front();
  }
}

void PointParser::Settle() {
  while (!batches_.empty()) {
    Place(*batches_.front());
    batches_.pop_front();
  }
  if (filling_) {
    filling_->Parse(!console_.quiet());
    Place(*filling_);
    filling_.reset();
  }
}

void PointParser::Place(Batch &batch) {
  if (batch.task.work) {
    workers_->Wait(batch.task); // throws what the worker threw: out of memory
  }
  for (size_t i = 0; i < batch.pairs(); ++i) {
    x_.push_back(batch.x[i]);
    y_.push_back(batch.y[i]);
  }
  if (!suspect_) {
    suspect_ = std::move(batch.suspect);
  }
  if (!console_.quiet()) {
    console_.out().AppendAll(batch.echo);
  }
}

void PointParser::Clear() {
  added_ = 0;
  suspect_.reset();
}
