// The run's console: the echo and trace on standard output, messages and the
// progress line on standard error. Everything a run prints goes through one
// Console, so that a message never lands inside the progress line and still
// follows, in a shared terminal or file, what was printed before it.
#ifndef KNOTFIT_APP_CONSOLE_H
#define KNOTFIT_APP_CONSOLE_H

#include "sink.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

class Console {
public:
  struct Options {
    bool quiet = false;       // nothing on standard output
    bool progress = false;    // may show the progress line
    uint64_t input_bytes = 0; // the inputs' total size, 0 when unknown
  };
  Console() : Console(Options{}) {}
  explicit Console(const Options &options);
  ~Console(); // flushes standard output and clears the progress line
  Console(const Console &) = delete;
  Console &operator=(const Console &) = delete;

  // Standard output, gathered in large chunks and written with write(2);
  // with quiet, a sink that keeps nothing.
  Sink &out() { return *out_; }
  bool quiet() const { return options_.quiet; }

  // One line on standard error (the line end is added), after what standard
  // output holds so far and without the progress line.
  void Message(const std::string &line);

  // The last problem reported about a data set ("<problem>; <consequence>"),
  // kept for the run's report until taken.
  void KeepProblem(std::string problem) { problem_ = std::move(problem); }
  std::string TakeProblem() { return std::exchange(problem_, {}); }

  // Hands everything buffered to standard output; false when any write to
  // it failed (the first failure was reported once, with its reason).
  bool Flush();

  // What the run has done so far, for the progress line: shown when standard
  // error is a terminal and standard output is not, once the run has taken a
  // second, redrawn a few times a second.
  void Progress(uint64_t bytes_read, uint64_t points, uint64_t data_sets);

private:
  class StandardOutput;

  void ClearProgress();

  Options options_;
  std::unique_ptr<StandardOutput> stdout_; // null when quiet
  Discard discard_;
  Sink *out_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point next_draw_;
  bool progress_shown_ = false;
  std::string problem_;
};

#endif
