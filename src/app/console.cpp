#include "console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

bool Console::StandardOutput::Write(const char *data, size_t size) {
  while (size > 0 && !failed_) {
    const ssize_t done = ::write(STDOUT_FILENO, data, size);
    if (done >= 0) {
      data += done;
      size -= static_cast<size_t>(done);
    } else if (errno != EINTR) {
      Fail(errno);
    }
  }
  return !failed_;
}

bool Console::StandardOutput::Close() {
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
      start_(std::chrono::steady_clock::now()),
      next_draw_(start_ + std::chrono::seconds(1)) {}

Console::~Console() {
  Flush();
  ClearProgress();
}

bool Console::Flush() {
  return out_.Flush();
}

bool Console::Close() {
  const bool flushed = Flush();
  return stdout_.Close() && flushed;
}

void Console::Message(const std::string &line) {
  Flush();
  ClearProgress();
  std::fprintf(stderr, "%s\n", line.c_str());
}

void Console::ClearProgress() {
  if (progress_shown_) {
    std::fputs("\r\033[K", stderr);
    progress_shown_ = false;
  }
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
                ", %llu data sets written, %.2f M points/s",
                static_cast<unsigned long long>(data_sets),
                static_cast<double>(points) / seconds / 1e6);
  std::fprintf(stderr, "\r%s\033[K", line);
  progress_shown_ = true;
}
