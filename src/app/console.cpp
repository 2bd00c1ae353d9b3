#include "console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

// Standard output in chunks of a mebibyte, written with write(2): the echo
// and trace of a long data set are hundreds of megabytes, and a data set of
// twenty points should not cost a system call of its own.
class Console::StandardOutput final : public Sink {
public:
  StandardOutput() : buf_(size_t{1} << 20) {}
  bool Write(const char *data, size_t size) override {
    if (buf_.size() - used_ < size && !Flush()) {
      return false;
    }
    if (size >= buf_.size()) {
      return WriteOut(data, size);
    }
    std::memcpy(buf_.data() + used_, data, size);
    used_ += size;
    return !failed_;
  }
  bool Flush() {
    const bool ok = used_ == 0 || WriteOut(buf_.data(), used_);
    used_ = 0;
    return ok && !failed_;
  }

private:
  // The first failure is reported, with its reason, and ends all writing to
  // standard output; the run goes on and its status tells.
  bool WriteOut(const char *data, size_t size) {
    while (size > 0 && !failed_) {
      const ssize_t done = ::write(STDOUT_FILENO, data, size);
      if (done >= 0) {
        data += done;
        size -= static_cast<size_t>(done);
      } else if (errno != EINTR) {
        failed_ = true;
        std::fprintf(stderr, "knotfit: write error on standard output: %s\n",
                     std::strerror(errno));
      }
    }
    return !failed_;
  }

  std::vector<char> buf_;
  size_t used_ = 0;
  bool failed_ = false;
};

Console::Console(const Options &options)
    : options_(options), start_(std::chrono::steady_clock::now()),
      next_draw_(start_ + std::chrono::seconds(1)) {
  if (options.quiet) {
    out_ = &discard_;
  } else {
    stdout_ = std::make_unique<StandardOutput>();
    out_ = stdout_.get();
  }
}

Console::~Console() {
  Flush();
  ClearProgress();
}

bool Console::Flush() {
  return stdout_ == nullptr || stdout_->Flush();
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
