#include "option_table.h"

#include <algorithm>
#include <cstdio>

std::string_view
Words::LastOf(std::initializer_list<std::string_view> names) const {
  const auto last = std::find_first_of(given.rbegin(), given.rend(),
                                       names.begin(), names.end());
  return last == given.rend() ? std::string_view() : *last;
}

std::string Refused(std::string_view option, std::string_view needs,
                    std::string_view value) {
  return "option '" + std::string(option) + "' needs " + std::string(needs) +
         ", not '" + knotfit::detail::Quoted(value) + "'";
}

bool PlainOperand(std::string_view arg) {
  return arg.size() < 2 || arg[0] != '-';
}

void PrintOptionHelp(std::FILE *to, char letter, const char *name,
                     const char *value, const char *help, HelpLayout layout) {
  std::string tag = letter != 0 ? std::string{' ', ' ', '-', letter, ',', ' '}
                                : std::string(6, ' ');
  tag += name;
  if (value != nullptr) {
    tag += layout.joiner;
    tag += value;
  }
  const auto column = static_cast<size_t>(layout.column);
  tag.resize(tag.size() < column ? column : tag.size() + 2, ' ');
  std::string lines = help;
  for (size_t at = lines.find('\n'); at != lines.npos;
       at = lines.find('\n', at + 1)) {
    lines.insert(at + 1, column, ' ');
  }
  std::fprintf(to, "%s%s\n", tag.c_str(), lines.c_str());
}

void TellUsageError(const char *program, const std::string &why) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
               program, why.c_str(), program);
}

std::string Filled(std::string_view words, size_t width) {
  std::string lines;
  size_t line_start = 0;
  for (size_t at = words.find_first_not_of(' '); at != words.npos;) {
    const size_t end = std::min(words.find(' ', at), words.size());
    const std::string_view word = words.substr(at, end - at);
    if (lines.size() > line_start) {
      const bool fits = lines.size() - line_start + 1 + word.size() <= width;
      lines += fits ? ' ' : '\n';
      line_start = fits ? line_start : lines.size();
    }
    lines += word;
    at = words.find_first_not_of(' ', end);
  }
  return lines;
}
