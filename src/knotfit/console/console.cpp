#include "console/console.h"
#include "console/messages.h"

#include "replacement_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <unistd.h>

Console::StandardOutput::~StandardOutput() {
  if (in_flight_) {
    behind_->Wait(task_); // the last chunk still goes out
  }
}

// The errno of a failed write, 0 when all of it was written.
int Console::StandardOutput::WriteAll(const char *data, size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(STDOUT_FILENO, data, size);
    if (done >= 0) {
      data += done;
      size -= static_cast<size_t>(done);
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

bool Console::StandardOutput::Write(const char *data, size_t size) {
  if (!behind_) {
    const int error = failed_ ? 0 : WriteAll(data, size);
    if (error != 0) {
      Fail(error);
    }
    return !failed_;
  }
  if (in_flight_) {
    behind_->Wait(task_);
    in_flight_ = false;
  }
  if (error_ != 0 || failed_) {
    return WaitForOutput();
  }
  chunk_.assign(data, data + size);
  task_.work = [this] { error_ = WriteAll(chunk_.data(), chunk_.size()); };
  behind_->Start(task_);
  in_flight_ = true;
  return true;
}

void Console::StandardOutput::WriteBehind() {
  behind_.emplace(1);
  if (behind_->threads() == 0) {
    behind_.reset(); // no thread to be had: written at once, as always
  }
}

bool Console::StandardOutput::WaitForOutput() {
  if (in_flight_) {
    behind_->Wait(task_);
    in_flight_ = false;
  }
  int error = 0;
  std::swap(error, error_);
  if (error == EPIPE || error == EFBIG) {
    // What the write would have raised in this thread: blocked in the
    // writing one, it is raised here, where the run's handler is.
    raise(error == EPIPE ? SIGPIPE : SIGXFSZ);
  }
  if (error != 0) {
    Fail(error);
  }
  return !failed_;
}

bool Console::StandardOutput::Close() {
  WaitForOutput();
  // Linux closes the descriptor even when close reports EINTR.
  if (::close(STDOUT_FILENO) != 0 && errno != EINTR) {
    Fail(errno);
  }
  return !failed_;
}

void Console::StandardOutput::Fail(int error) {
  if (!failed_) {
    failed_ = true;
    std::fprintf(stderr, "knotfit: write error on standard output: %s\n",
                 std::strerror(error));
  }
}

// Standard output in chunks of a mebibyte: the echo and trace of a long data
// set are hundreds of megabytes, and a data set of twenty points should not
// cost a system call of its own.
Console::Console(const Options &options)
    : options_(options),
      out_(options.quiet ? static_cast<Sink &>(discard_) : stdout_,
           size_t{1} << 20),
      held_out_(route_), start_(std::chrono::steady_clock::now()),
      next_draw_(start_ + std::chrono::seconds(1)) {}

Console::~Console() {
  Flush();
  ClearProgress();
}

bool Console::Flush() {
  const bool flushed = out_.Flush();
  return (options_.quiet || stdout_.WaitForOutput()) && flushed;
}

bool Console::Close() {
  const bool flushed = Flush();
  return stdout_.Close() && flushed;
}

void Console::Message(const std::string &line) {
  if (route_.held_ != nullptr) {
    held_out_.Flush();
    route_.held_->AddMessage(line);
    return;
  }
  Flush();
  ClearProgress();
  std::fprintf(stderr, "%s\n", line.c_str());
}

void Console::HoldIn(Transcript *transcript) {
  if (route_.held_ != nullptr) {
    held_out_.Flush();
  }
  route_.held_ = transcript;
}

void Transcript::ReplayTo(Console &console) const {
  size_t from = 0;
  for (const auto &[at, line] : messages_) {
    console.out().AppendAll(std::string_view(text_).substr(from, at - from));
    console.Message(line);
    from = at;
  }
  console.out().AppendAll(std::string_view(text_).substr(from));
}

void Console::ClearProgress() {
  if (progress_shown_) {
    std::fputs("\r\033[K", stderr);
    progress_shown_ = false;
  }
}

void Console::Fitting(std::string_view name, size_t knots,
                      std::chrono::steady_clock::time_point start) {
  if (!options_.progress || std::this_thread::get_id() != owner_) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now < next_draw_ || now - start < std::chrono::seconds(1)) {
    return;
  }
  next_draw_ = now + std::chrono::milliseconds(250);
  std::fprintf(stderr, "\rknotfit: fitting '%s', %zu knot%s so far\033[K",
               Quoted(name).c_str(), knots, knots == 1 ? "" : "s");
  progress_shown_ = true;
}

void Console::Progress(uint64_t bytes_read, uint64_t points,
                       uint64_t data_sets) {
  if (!options_.progress) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now < next_draw_) {
    return;
  }
  next_draw_ = now + std::chrono::milliseconds(250);
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const auto read = static_cast<double>(bytes_read);
  const auto total = static_cast<double>(options_.input_bytes);
  char line[160];
  int used = std::snprintf(line, sizeof line, "knotfit: %.1f", read / 1e6);
  if (total > 0) {
    used += std::snprintf(line + used, sizeof line - static_cast<size_t>(used),
                          " of %.1f MB read (%.0f%%)", total / 1e6,
                          100.0 * read / total);
  } else {
    used += std::snprintf(line + used, sizeof line - static_cast<size_t>(used),
                          " MB read");
  }
  std::snprintf(line + used, sizeof line - static_cast<size_t>(used),
                ", %llu data set%s written, %.2f M points/s",
                static_cast<unsigned long long>(data_sets),
                data_sets == 1 ? "" : "s",
                static_cast<double>(points) / seconds / 1e6);
  std::fprintf(stderr, "\r%s\033[K", line);
  progress_shown_ = true;
}
