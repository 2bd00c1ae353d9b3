// Output collected in a large buffer and handed to a sink in few, large
// writes: the echo, the trace and both file formats go through one of these.
#ifndef KNOTFIT_CHUNK_WRITER_H
#define KNOTFIT_CHUNK_WRITER_H

#include "big_array.h"
#include "sink.h"

#include <cstddef>
#include <cstring>
#include <string_view>

// The default capacity stays below the allocator's mmap threshold, so the
// buffers of one data set after another reuse the same heap memory instead of
// faulting in fresh pages every time; and it is never zero-filled: three
// buffers per data set of twenty points would cost more than their contents.
class ChunkWriter {
public:
  explicit ChunkWriter(Sink &sink, size_t capacity = size_t{1} << 16)
      : sink_(sink) {
    buf_.Reserve(capacity, 0);
  }
  ChunkWriter(const ChunkWriter &) = delete;
  ChunkWriter &operator=(const ChunkWriter &) = delete;

  // A place for up to n bytes; Commit the end of what was written there.
  char *Room(size_t n) {
    if (buf_.capacity() - used_ < n) {
      Flush();
      if (buf_.capacity() < n) {
        buf_.Reserve(n, 0);
      }
    }
    return data() + used_;
  }
  void Commit(const char *end) { used_ = static_cast<size_t>(end - data()); }

  void Append(std::string_view text) {
    char *at = Room(text.size());
    std::memcpy(at, text.data(), text.size());
    Commit(at + text.size());
  }

  // False once a write to the sink failed.
  bool ok() const { return ok_; }

  // Hands everything buffered to the sink. False once any write failed.
  bool Flush() {
    if (used_ > 0 && !sink_.Write(data(), used_)) {
      ok_ = false;
    }
    used_ = 0;
    return ok_;
  }

private:
  char *data() { return static_cast<char *>(buf_.data()); }

  Sink &sink_;
  Region buf_;
  size_t used_ = 0;
  bool ok_ = true;
};

#endif
