#include "standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool CloseStandardOutput(const char *program, int first_error) {
  // A text longer than the stream's buffer fails while it is written: the
  // reason is that write's, unless the close gives its own.
  const bool failed = std::ferror(stdout) != 0 || first_error != 0;
  errno = 0;
  if (std::fclose(stdout) == 0 && !failed) {
    return true;
  }
  const int error = errno != 0 ? errno : (first_error != 0 ? first_error : EIO);
  std::fprintf(stderr, "%s: write error on standard output: %s\n", program,
               std::strerror(error));
  return false;
}
