#include "options.h"

#include "standard_output.h"

#include <cstdio>

std::optional<int> Answered(Parsed parsed, const char *program,
                            void (*help)(std::FILE *)) {
  switch (parsed) {
  case Parsed::kRun:
    return std::nullopt;
  case Parsed::kHelp:
    help(stdout);
    break;
  case Parsed::kVersion:
    std::printf("%s %s\n", program, KNOTFIT_VERSION);
    break;
  case Parsed::kError:
    return 1;
  }
  return CloseStandardOutput(program) ? 0 : 1;
}

std::string_view OptionName(std::string_view arg) {
  return arg.substr(0, arg.find('='));
}
