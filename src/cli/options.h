// What a command line asks for, and the answer to --help and --version.
#ifndef KNOTFIT_CLI_OPTIONS_H
#define KNOTFIT_CLI_OPTIONS_H

#include <cstdio>
#include <functional>
#include <optional>
#include <string_view>

// What a command line asks for.
enum class Parsed { kRun, kHelp, kVersion, kError };

// The exit status of a command line that asks for no run: the text help
// prints, or the program's version and licence, on standard output, closed
// (1 when that fails, told on standard error; 0 otherwise); 1 for an error
// already told. Nothing for kRun.
std::optional<int> Answered(Parsed parsed, const char *program,
                            const std::function<void(std::FILE *)> &help);

// The option an argument names: "--name" of "--name=VALUE", the argument
// itself otherwise.
std::string_view OptionName(std::string_view arg);

#endif
