#include "options.h"

#include "standard_output.h"

#include <cstdio>

std::optional<int> Answered(Parsed parsed, const char *program,
                            const char *help) {
  switch (parsed) {
  case Parsed::kRun:
    return std::nullopt;
  case Parsed::kHelp:
    std::fputs(help, stdout);
    break;
  case Parsed::kVersion:
    std::printf("%s %s\n", program, KNOTFIT_VERSION);
    break;
  case Parsed::kError:
    return 1;
  }
  return CloseStandardOutput(program) ? 0 : 1;
}

bool OptionValue(std::string_view arg, std::string_view name, int argc,
                 const char *const *argv, int &i, std::string_view &value,
                 bool &missing, char letter) {
  const bool is_short =
      letter != 0 && arg.size() >= 2 && arg[0] == '-' && arg[1] == letter;
  missing = false;
  if (arg == name || (is_short && arg.size() == 2)) {
    missing = i + 1 == argc;
    value = missing ? std::string_view() : std::string_view(argv[++i]);
    return true;
  }
  if (is_short) {
    value = arg.substr(2);
    return true;
  }
  if (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
      arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

std::string_view OptionName(std::string_view arg) {
  return arg.substr(0, arg.find('='));
}
