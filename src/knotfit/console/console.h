// The run's console: the echo and trace on standard output, messages and the
// progress line on standard error. Everything a run prints goes through one
// Console, so that a message never lands inside the progress line and still
// follows, in a shared terminal or file, what was printed before it.
#ifndef KNOTFIT_CONSOLE_CONSOLE_H
#define KNOTFIT_CONSOLE_CONSOLE_H

#include "console/chunk_writer.h"
#include "parallel/workers.h"
#include "sink.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

class Console;

// What a run prints, held back to be printed later in its place (by -j's
// threads): the bytes for standard output, and the message lines among them,
// in order.
class Transcript final : public Sink {
public:
  bool Write(const char *data, size_t size) override {
    text_.append(data, size);
    return true;
  }
  void AddMessage(const std::string &line) {
    messages_.emplace_back(text_.size(), line);
  }
  size_t size() const { return text_.size(); }
  // Prints it all on the console, as it would have been printed.
  void ReplayTo(Console &console) const;

private:
  std::string text_;
  std::vector<std::pair<size_t, std::string>> messages_; // and where
};

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
  // While output is held, the buffer that goes to its transcript: take it
  // afresh after anything that may hold or release output.
  ChunkWriter &out() { return route_.held_ != nullptr ? held_out_ : out_; }
  bool quiet() const { return options_.quiet; }

  // One line on standard error (the line end is added), after what standard
  // output holds so far and without the progress line.
  void Message(const std::string &line);

  // Hands everything buffered to standard output; false when any write to
  // it failed (the first failure was reported once, with its reason).
  bool Flush();

  // Writes standard output from now on on a thread of its own, behind the
  // run (-j): its writes come at the same points of the output all the
  // same, and WaitForOutput waits for them.
  void WriteBehind() { stdout_.WriteBehind(); }

  // Waits until every chunk of standard output handed over is written, and
  // reports a failure as it would have been reported at once (a write to a
  // pipe without reader first ends the run by SIGPIPE, one beyond the file
  // size limit by SIGXFSZ, as in the writing thread). Called before files
  // are put in place, so that they follow the output before them.
  bool WaitForOutput() { return stdout_.WaitForOutput(); }

  // Flush, then closes standard output: on some file systems a write error
  // shows only then. False, reported as a write error, when either failed.
  bool Close();

  // Holds what is printed from now on (standard output and messages) in
  // transcript, or, with null, prints it again. What was printed before
  // goes where it was going; standard output is written at the same points
  // either way (ChunkWriter).
  void HoldIn(Transcript *transcript);

  // What the run has done so far, for the progress line: shown when standard
  // error is a terminal and standard output is not, once the run has taken a
  // second, redrawn a few times a second.
  void Progress(uint64_t bytes_read, uint64_t points, uint64_t data_sets);
  // A data set's fit that has taken more than a second since start, on the
  // same line: "fitting 'NAME', 1234 knots so far". Only on the thread that
  // made the console, which alone prints; a fit on a worker (-j) stays
  // silent.
  void Fitting(std::string_view name, size_t knots,
               std::chrono::steady_clock::time_point start);

private:
  // Standard output's file descriptor as a sink. The first failure is
  // reported, with its reason, and ends all writing to it; the run goes on
  // and its status tells. Written behind, a chunk is copied and written by a
  // worker of its own while the run goes on; WaitForOutput waits for it.
  class StandardOutput final : public Sink {
  public:
    ~StandardOutput();
    bool Write(const char *data, size_t size) override;
    bool Close();
    void WriteBehind();
    bool WaitForOutput();

  private:
    int WriteAll(const char *data, size_t size);
    void Fail(int error);
    bool failed_ = false;

    // One chunk written behind at a time, while the next fills the buffer.
    std::vector<char> chunk_;
    Workers::Task task_;
    bool in_flight_ = false;
    int error_ = 0;                 // of a write behind, not yet reported
    std::optional<Workers> behind_; // last: its thread stops first
  };

  // The transcript that holds what is printed, if any.
  class Route final : public Sink {
  public:
    bool Write(const char *data, size_t size) override {
      return held_->Write(data, size);
    }
    Transcript *held_ = nullptr;
  };

  void ClearProgress();

  Options options_;
  StandardOutput stdout_;
  Discard discard_;
  ChunkWriter out_;
  Route route_;
  ChunkWriter held_out_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point next_draw_;
  bool progress_shown_ = false;
  std::thread::id owner_ = std::this_thread::get_id();
};

#endif
