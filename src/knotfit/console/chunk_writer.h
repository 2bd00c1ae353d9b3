// Output collected in a large buffer and handed to a sink in few, large
// writes: the echo, the trace and both file formats go through one of these.
#ifndef KNOTFIT_CONSOLE_CHUNK_WRITER_H
#define KNOTFIT_CONSOLE_CHUNK_WRITER_H

#include "fit/big_array.h"
#include "sink.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

// The sink gets the bytes in chunks of exactly the chunk size (and what is
// left at a Flush): where the writes fall depends only on how many bytes
// were written and where Flush was called, not on how they were handed in,
// so output held back and handed in later in other pieces (-j) reaches the
// sink in the same writes. A piece is written beyond the chunk's end and
// the rest moved down once the chunk is written.
//
// The default chunk stays below the allocator's mmap threshold, so the
// buffers of one data set after another reuse the same heap memory instead of
// faulting in fresh pages every time; and it is never zero-filled: three
// buffers per data set of twenty points would cost more than their contents.
class ChunkWriter {
public:
  explicit ChunkWriter(Sink &sink, size_t chunk = size_t{1} << 16)
      : sink_(sink), chunk_(chunk) {
    buf_.Reserve(chunk + kSlack, 0);
  }
  ChunkWriter(const ChunkWriter &) = delete;
  ChunkWriter &operator=(const ChunkWriter &) = delete;

  // A place for up to n bytes; Commit the end of what was written there.
  char *Room(size_t n) {
    if (buf_.capacity() - used_ < n) {
      buf_.Reserve(used_ + n + kSlack, used_);
    }
    return data() + used_;
  }
  void Commit(const char *end) {
    used_ = static_cast<size_t>(end - data());
    if (used_ >= chunk_) {
      WriteChunks();
    }
  }

  void Append(std::string_view text) {
    char *at = Room(text.size());
    std::memcpy(at, text.data(), text.size());
    Commit(at + text.size());
  }

  // Appends text of any length, in pieces no larger than a chunk, so that
  // the buffer keeps its size.
  void AppendAll(std::string_view text) {
    while (!text.empty()) {
      const size_t piece = std::min(text.size(), chunk_);
      Append(text.substr(0, piece));
      text.remove_prefix(piece);
    }
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
  static constexpr size_t kSlack = 4096; // room beyond a chunk's end

  void WriteChunks() {
    size_t from = 0;
    for (; used_ - from >= chunk_; from += chunk_) {
      if (!sink_.Write(data() + from, chunk_)) {
        ok_ = false;
      }
    }
    std::memmove(data(), data() + from, used_ - from);
    used_ -= from;
  }

  char *data() { return static_cast<char *>(buf_.data()); }

  Sink &sink_;
  size_t chunk_;
  Region buf_;
  size_t used_ = 0;
  bool ok_ = true;
};

#endif
