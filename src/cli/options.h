// How the three programs read an option and its value from the command
// line: one rule for every option that takes a value.
#ifndef KNOTFIT_CLI_OPTIONS_H
#define KNOTFIT_CLI_OPTIONS_H

#include <optional>
#include <string_view>

// What a command line asks for.
enum class Parsed { kRun, kHelp, kVersion, kError };

// The exit status of a command line that asks for no run: the help text, or
// "PROGRAM VERSION", printed on standard output and closed (1 when that
// fails; 0 otherwise); 1 for an error already told. Nothing for kRun.
std::optional<int> Answered(Parsed parsed, const char *program,
                            const char *help);

// "--name VALUE" or "--name=VALUE", and with a short letter also "-x VALUE"
// or "-xVALUE": true when arg (argv[i]) is the option, with its value taken
// (from the next argument for the separate forms, i moved past it; missing
// when there is none).
bool OptionValue(std::string_view arg, std::string_view name, int argc,
                 const char *const *argv, int &i, std::string_view &value,
                 bool &missing, char letter = 0);

// The option an argument names: "--name" of "--name=VALUE", the argument
// itself otherwise.
std::string_view OptionName(std::string_view arg);

#endif
