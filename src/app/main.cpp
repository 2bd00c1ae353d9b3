// knotfit input_file: fits every data set of the input and writes its files.
// knotfit --help | -h | --version
// Exit status: 0 when every data set was written, 1 when one was skipped or
// failed or standard output could not be written, 255 for no argument, an
// unreadable input or an unopenable coefficient table, 254 for an unopenable
// plot file.
#include "driver.h"
#include "file.h"
#include "kel.h"
#include "knotfit.h"
#include "replacement_file.h"
#include "report.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <unistd.h>

namespace {

void PrintUsage(std::FILE *to) {
  static const char *const kRows[] = {
      "\nusage : knotfit input_file\n",
      "\tInput_file is a textfile with x [tab] y entries that are \n",
      "\tnew line(\\n) terminated.\n",
      "\tAt the end of each data set the following token must be found\n",
      "\tNAME <outputfilename>\n",
      "\tThe data is required to be sorted from lowest to highest x in\n",
      "\tdescending order.\n",
      "\tNOTE: more than one data set can be written in an input file.\n\n",
      "\tAs a sample take a look at the file pdat in the maps directory.\n\n",
      "\tThe program assumes that the standard KEL path is available and\n",
      "\tthe subdirectories\n",
      "\t\tCS\n",
      "\t\tCS/plot\n",
      "\texist. This is not checked!\n\n",
  };
  for (const char *row : kRows) {
    std::fputs(row, to);
  }
}

// A closed standard stream would hand its descriptor to the next file opened,
// and the echo would land in a coefficient table. Hold the slot with a
// read-only /dev/null instead, so that writes to it fail and are reported.
void KeepStandardStreamsApart() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", O_RDONLY); // the lowest free descriptor: fd itself
    }
  }
}

} // namespace

int main(int argc, char **argv) {
  KeepStandardStreamsApart();
  // A reader that leaves early (knotfit in | head) ends the run quietly.
  std::signal(SIGPIPE, SIG_DFL);
  RemoveTemporaryFileOnSignals();
  if (argc < 2) {
    PrintUsage(stderr);
    return 255;
  }
  // Asked for, the usage text is the answer: standard output, status 0. Any
  // other first argument is an input path (./--help reads a file).
  const std::string_view option = argv[1];
  if (option == "--help" || option == "-h") {
    PrintUsage(stdout);
    return FlushStandardOutput() ? 0 : 1;
  }
  if (option == "--version") {
    std::printf("knotfit %s\n", KNOTFIT_VERSION);
    return FlushStandardOutput() ? 0 : 1;
  }
  const File in(std::fopen(argv[1], "r"));
  if (!in) {
    const int error = errno;
    std::fprintf(stderr, "error opening input file : %s\n",
                 Quoted(argv[1]).c_str());
    std::fprintf(stderr, "knotfit: cannot open '%s': %s\n",
                 Quoted(argv[1]).c_str(), std::strerror(error));
    return 255;
  }
  TokenReader reader(in.get());
  RunSummary summary;
  try {
    summary = ProcessInput(reader, GenerateCubicSpline);
  } catch (const std::bad_alloc &) {
    // Files already written stay; the one being written was removed when
    // its writer unwound. Nothing more of the input is read.
    FlushStandardOutput();
    std::fputs("knotfit: out of memory; run ended\n", stderr);
    return 255;
  }
  const bool out_ok = FlushStandardOutput();
  if (reader.error() != 0) {
    std::fprintf(stderr, "knotfit: error reading input file '%s': %s\n",
                 Quoted(argv[1]).c_str(), std::strerror(reader.error()));
    return 255;
  }
  return summary.failed == 0 && out_ok ? 0 : 1;
}
