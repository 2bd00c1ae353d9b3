// A program's options as one table of rows, read from the command line by
// one parser and listed in --help by one layout. Each program keeps its
// rules between options (X needs Y) as plain code after the parse.
#ifndef KNOTFIT_CLI_OPTION_TABLE_H
#define KNOTFIT_CLI_OPTION_TABLE_H

#include "options.h"

#include "knotfit_internal.h"

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// An option's values, as many as the words of its value's name.
using Values = std::span<const std::string_view>;

template <class Target> struct Option {
  const char *name; // "--method"
  char letter;      // 'm'; 0 for none
  // The value as --help names it: "NAME", or "A B" for two values, taken
  // from the next two arguments; nullptr for a switch.
  const char *value;
  // What a missing value should have been: "a method" makes "option '-m'
  // needs a method".
  const char *needs;
  // Sets the option in the target, or says what is wrong with its values,
  // one line. nullptr: the row's answer alone.
  std::string (*apply)(Target &, Values);
  const char *help;             // its lines in --help, a '\n' between two
  Parsed answer = Parsed::kRun; // kHelp or kVersion: the parse ends there
  // A help made from another table (the methods'): its words, which --help
  // fills into lines; help is null then.
  std::string (*made_help)() = nullptr;
};

// What a command line holds besides what the rows set.
struct Words {
  Parsed parsed = Parsed::kRun;
  std::string error; // for kError: what was wrong, one line
  std::vector<std::string_view> operands;
  std::vector<std::string_view> given; // the options' names, in order
  // The last option given of names; empty when none was.
  std::string_view LastOf(std::initializer_list<std::string_view> names) const;
};

// An operand of knotfit and knotfit-export: "-", the empty argument, or
// anything that does not start with '-'.
bool PlainOperand(std::string_view arg);

// How --help lists the rows: values joined to the name by joiner ('=' or
// ' '), what they do from column on (two spaces after a name that reaches
// it).
struct HelpLayout {
  int column;
  char joiner;
  size_t width = 50; // the most a made help's line holds
};
void PrintOptionHelp(std::FILE *to, char letter, const char *name,
                     const char *value, const char *help, HelpLayout layout);

// "PROGRAM: WHY" and where to look, on standard error.
void TellUsageError(const char *program, const std::string &why);

// The refusal of a bad value, naming it: "option '--table' needs classic,
// offset, double or auto, not 'bogus'".
std::string Refused(std::string_view option, std::string_view needs,
                    std::string_view value);

// words in lines of at most width characters (a longer word alone), as many
// words to a line as fit, a '\n' between two lines.
std::string Filled(std::string_view words, size_t width);

namespace option_table_detail {

inline unsigned CountOf(const char *value) {
  if (value == nullptr) {
    return 0;
  }
  return std::string_view(value).find(' ') == std::string_view::npos ? 1 : 2;
}

inline std::string Missing(std::string_view shown, const char *needs) {
  return "option '" + knotfit::detail::Quoted(shown) + "' needs " + needs;
}

template <class> struct MemberOf;
template <class Class, class Value> struct MemberOf<Value Class::*> {
  using Target = Class;
};
template <auto member>
using TargetOf = typename MemberOf<decltype(member)>::Target;

} // namespace option_table_detail

// What a switch does: sets its flag.
template <auto flag>
std::string Switch(option_table_detail::TargetOf<flag> &target, Values) {
  target.*flag = true;
  return {};
}

// What an option does that keeps its value as given, in a std::string or a
// std::optional<std::string>.
template <auto member>
std::string Keep(option_table_detail::TargetOf<member> &target, Values v) {
  target.*member = std::string(v[0]);
  return {};
}

// The last two rows of knotfit-eval's and knotfit-export's tables.
template <class Target>
constexpr Option<Target> kHelpRow{
    "--help", 'h', nullptr, nullptr, nullptr, "print this text", Parsed::kHelp};
template <class Target>
constexpr Option<Target> kVersionRow{
    "--version",     0, nullptr, nullptr, nullptr, "print the version",
    Parsed::kVersion};

// Reads argv[1..argc) against the table into target. Options come as
// "--name", "--name VALUE", "--name=VALUE", "-x", "-x VALUE", "-xVALUE" and
// letters together ("-ds", "-qj4"); "--" ends them; what is_operand takes
// is an operand wherever it stands.
template <class Target>
Words ReadOptions(int argc, const char *const *argv,
                  std::span<const Option<Target>> table, Target &target,
                  bool (*is_operand)(std::string_view) = PlainOperand) {
  namespace d = option_table_detail;
  Words words;
  // Applies a row with its values; false when the parse ends with it.
  auto use = [&](const Option<Target> &row, Values values) {
    words.given.emplace_back(row.name);
    if (row.answer != Parsed::kRun) {
      words.parsed = row.answer;
      return false;
    }
    words.error = row.apply(target, values);
    words.parsed = words.error.empty() ? Parsed::kRun : Parsed::kError;
    return words.error.empty();
  };
  auto fail = [&words](std::string why) {
    words.parsed = Parsed::kError;
    words.error = std::move(why);
    return words;
  };
  // The values of row from the arguments after i; false when too few.
  std::string_view taken[2];
  auto take = [&](const Option<Target> &row, int &i) {
    const unsigned count = d::CountOf(row.value);
    if (argc - 1 - i < static_cast<int>(count)) {
      return false;
    }
    for (unsigned v = 0; v < count; ++v) {
      taken[v] = argv[++i];
    }
    return true;
  };
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options || is_operand(arg)) {
      words.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options = false;
      continue;
    }
    if (arg[1] == '-') {
      const std::string_view name = OptionName(arg);
      const Option<Target> *row = nullptr;
      for (const Option<Target> &one : table) {
        row = one.name == name ? &one : row;
      }
      const unsigned count = row ? d::CountOf(row->value) : 0;
      if (row == nullptr || (name.size() < arg.size() && count != 1)) {
        return fail("unknown option '" + knotfit::detail::Quoted(arg) + "'");
      }
      if (name.size() < arg.size()) {
        taken[0] = arg.substr(name.size() + 1);
      } else if (!take(*row, i)) {
        return fail(d::Missing(arg, row->needs));
      }
      if (!use(*row, Values(taken, count))) {
        return words;
      }
      continue;
    }
    // Letters together: a letter with a value takes the rest of the
    // argument, or the next argument when it ends the argument.
    for (size_t at = 1; at < arg.size(); ++at) {
      const Option<Target> *row = nullptr;
      for (const Option<Target> &one : table) {
        row = one.letter == arg[at] ? &one : row;
      }
      if (row == nullptr) {
        return fail("unknown option '" + knotfit::detail::Quoted(arg) + "'");
      }
      const unsigned count = d::CountOf(row->value);
      if (count == 1 && at + 1 < arg.size()) {
        taken[0] = arg.substr(at + 1);
        at = arg.size();
      } else if (!take(*row, i)) {
        return fail(d::Missing(std::string{'-', arg[at]}, row->needs));
      }
      if (!use(*row, Values(taken, count))) {
        return words;
      }
    }
  }
  return words;
}

// The rows, one option each, as ReadOptions reads them.
template <class Target>
void PrintOptions(std::FILE *to, std::span<const Option<Target>> table,
                  HelpLayout layout) {
  for (const Option<Target> &row : table) {
    const std::string made =
        row.made_help ? Filled(row.made_help(), layout.width) : "";
    PrintOptionHelp(to, row.letter, row.name, row.value,
                    row.made_help ? made.c_str() : row.help, layout);
  }
}

// A program with a table of options and operands alone, as knotfit-eval and
// knotfit-export are: what reads its command line and answers it.
template <class Target> struct Program {
  const char *name;     // "knotfit-eval", in its messages and --version
  const char *synopsis; // the lines of --help before the options
  std::span<const Option<Target>> options;
  HelpLayout layout;
  std::vector<std::string> Target::*operands;
  // What is wrong with a command line read without a fault; empty when
  // nothing is.
  std::string (*conflict)(const Target &);
  bool (*is_operand)(std::string_view) = PlainOperand;
  int usage_status = 1; // the exit status of a usage error
};

// Reads the command line into target, its operands too; a usage error is
// told. The exit status when no run follows (as Answered gives it, after
// --help or --version); nothing when it does.
template <class Target>
std::optional<int> ReadCommandLine(const Program<Target> &program, int argc,
                                   const char *const *argv, Target &target) {
  const Words words =
      ReadOptions(argc, argv, program.options, target, program.is_operand);
  (target.*program.operands)
      .assign(words.operands.begin(), words.operands.end());
  const std::string error =
      words.parsed == Parsed::kRun ? program.conflict(target) : words.error;
  if (!error.empty()) {
    TellUsageError(program.name, error);
    return program.usage_status;
  }
  return Answered(words.parsed, program.name, [&program](std::FILE *to) {
    std::fputs(program.synopsis, to);
    PrintOptions(to, program.options, program.layout);
  });
}

#endif
