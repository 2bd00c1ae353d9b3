#include "report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

void ReportDataSet(const char *name, const std::string &problem,
                   const char *consequence) {
  std::fprintf(stderr, "knotfit: data set '%s': %s; %s\n", name,
               problem.c_str(), consequence);
}

void ReportStandardOutputError(int error) {
  if (error != 0) {
    std::fprintf(stderr, "knotfit: write error on standard output: %s\n",
                 std::strerror(error));
  } else {
    std::fputs("knotfit: write error on standard output\n", stderr);
  }
}

bool FlushStandardOutput() {
  const bool reported = std::ferror(stdout) != 0;
  errno = 0;
  if (std::fflush(stdout) != 0 && !reported) {
    ReportStandardOutputError(errno);
  }
  return std::ferror(stdout) == 0;
}
