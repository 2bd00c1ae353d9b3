// The run's console: the echo and trace on standard output, messages and the
// progress line on standard error. Everything a run prints goes through one
// Console, so that a message never lands inside the progress line and still
// follows, in a shared terminal or file, what was printed before it.
#ifndef KNOTFIT_APP_CONSOLE_H
#define KNOTFIT_APP_CONSOLE_H

#include "chunk_writer.h"
#include "sink.h"

#include <chrono>
#include <cstdint>
#include <string>

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

  // Standard output: the one buffer of the echo and the trace, written in
  // large chunks with write(2); with quiet, it keeps nothing.
  ChunkWriter &out() { return out_; }
  bool quiet() const { return options_.quiet; }

  // One line on standard error (the line end is added), after what standard
  // output holds so far and without the progress line.
  void Message(const std::string &line);

  // Hands everything buffered to standard output; false when any write to
  // it failed (the first failure was reported once, with its reason).
  bool Flush();

  // Flush, then closes standard output: on some file systems a write error
  // shows only then. False, reported as a write error, when either failed.
  bool Close();

  // What the run has done so far, for the progress line: shown when standard
  // error is a terminal and standard output is not, once the run has taken a
  // second, redrawn a few times a second.
  void Progress(uint64_t bytes_read, uint64_t points, uint64_t data_sets);

private:
  // Standard output's file descriptor as a sink. The first failure is
  // reported, with its reason, and ends all writing to it; the run goes on
  // and its status tells.
  class StandardOutput final : public Sink {
  public:
    bool Write(const char *data, size_t size) override;
    bool Close();

  private:
    void Fail(int error);
    bool failed_ = false;
  };

  void ClearProgress();

  Options options_;
  StandardOutput stdout_;
  Discard discard_;
  ChunkWriter out_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point next_draw_;
  bool progress_shown_ = false;
};

#endif
