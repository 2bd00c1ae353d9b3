#include "report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

std::string Quoted(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (ch) {
    case '\n':
      out += "\\n";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\\':
    case '\'':
      out += '\\';
      out += ch;
      break;
    default:
      if (byte < 0x20 || byte == 0x7f) {
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
      } else {
        out += ch;
      }
    }
  }
  return out;
}

void ReportDataSet(const char *name, const std::string &problem,
                   const char *consequence) {
  std::fprintf(stderr, "knotfit: data set '%s': %s; %s\n", Quoted(name).c_str(),
               problem.c_str(), consequence);
}

namespace {

class StdoutSink final : public Sink {
public:
  bool Write(const char *data, size_t size) override {
    const bool reported = std::ferror(stdout) != 0;
    if (std::fwrite(data, 1, size, stdout) == size) {
      return true;
    }
    // The first failure sets the stream's error flag and is reported once.
    if (!reported) {
      ReportStandardOutputError(errno);
    }
    return false;
  }
};

} // namespace

Sink &StandardOutput() {
  static StdoutSink sink; // no state of its own: stdout holds it
  return sink;
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
