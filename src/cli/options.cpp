#include "options.h"

#include "standard_output.h"

#include <cerrno>
#include <cstdio>

std::optional<int> Answered(Parsed parsed, const char *program,
                            const std::function<void(std::FILE *)> &help) {
  errno = 0;
  switch (parsed) {
  case Parsed::kRun:
    return std::nullopt;
  case Parsed::kHelp:
    help(stdout);
    break;
  case Parsed::kVersion:
    std::printf("%s %s\nLicense: MIT\n", program, KNOTFIT_VERSION);
    break;
  case Parsed::kError:
    return 1;
  }
  // A text longer than the stream's buffer fails while it is written: that
  // write's reason is the one to tell.
  const int during = std::ferror(stdout) != 0 ? errno : 0;
  return CloseStandardOutput(program, during) ? 0 : 1;
}

std::string_view OptionName(std::string_view arg) {
  return arg.substr(0, arg.find('='));
}
