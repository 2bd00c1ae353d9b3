// Where a ChunkWriter's bytes go: standard output, an output file (written
// beside its target and renamed over it), a transcript held while earlier
// data sets wait, a string, or nowhere.
#ifndef KNOTFIT_FILES_SINK_H
#define KNOTFIT_FILES_SINK_H

#include <cstddef>
#include <string>

class Sink {
public:
  // Writes all of data; false when that failed (the sink keeps the reason).
  virtual bool Write(const char *data, size_t size) = 0;

protected:
  ~Sink() = default;
};

// A sink that keeps nothing.
class Discard final : public Sink {
public:
  bool Write(const char *, size_t) override { return true; }
};

// A sink that keeps everything, in memory.
class Collect final : public Sink {
public:
  bool Write(const char *data, size_t size) override {
    text.append(data, size);
    return true;
  }
  std::string text;
};

#endif
