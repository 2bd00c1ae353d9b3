// An open stdio stream, closed when it goes out of scope. A writer that must
// know whether its data reached the file closes it itself and checks.
#ifndef KNOTFIT_OUTPUT_FILE_H
#define KNOTFIT_OUTPUT_FILE_H

#include <cstdio>
#include <memory>

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

#endif
