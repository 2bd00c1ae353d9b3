// Output collected in a large buffer and handed to a stream in few, large
// writes: the echo, the trace and both file formats go through one of these.
#ifndef KNOTFIT_CHUNK_WRITER_H
#define KNOTFIT_CHUNK_WRITER_H

#include "report.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

// The default capacity stays below the allocator's mmap threshold, so the
// buffers of one data set after another reuse the same heap memory instead of
// faulting in fresh pages every time.
class ChunkWriter {
public:
  explicit ChunkWriter(std::FILE *f, size_t capacity = size_t{1} << 16)
      : f_(f), buf_(capacity) {}
  ChunkWriter(const ChunkWriter &) = delete;
  ChunkWriter &operator=(const ChunkWriter &) = delete;

  // A place for up to n bytes; Commit the end of what was written there.
  char *Room(size_t n) {
    if (buf_.size() - used_ < n) {
      Flush();
      if (buf_.size() < n) {
        buf_.resize(n);
      }
    }
    return buf_.data() + used_;
  }
  void Commit(const char *end) {
    used_ = static_cast<size_t>(end - buf_.data());
  }

  void Append(std::string_view text) {
    char *at = Room(text.size());
    std::memcpy(at, text.data(), text.size());
    Commit(at + text.size());
  }

  // False once a write to the stream failed.
  bool ok() const { return ok_; }

  // Hands everything buffered to the stream. False once any write failed.
  bool Flush() {
    Write(buf_.data(), used_);
    used_ = 0;
    return ok_;
  }

private:
  void Write(const char *data, size_t size) {
    if (size == 0) {
      return;
    }
    const bool reported = std::ferror(f_) != 0;
    if (std::fwrite(data, 1, size, f_) != size) {
      ok_ = false;
      // Standard output is shared by every writer, and a large chunk goes
      // straight to the system: its reason is known here and nowhere later.
      // The first failure sets the stream's error flag and is reported once.
      if (f_ == stdout && !reported) {
        ReportStandardOutputError(errno);
      }
    }
  }

  std::FILE *f_;
  std::vector<char> buf_;
  size_t used_ = 0;
  bool ok_ = true;
};

#endif
