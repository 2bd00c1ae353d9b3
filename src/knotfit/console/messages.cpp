#include "console/messages.h"

void PrintDataSetMessage(Console &console, std::string_view place,
                         std::string_view name, const std::string &problem,
                         const char *consequence) {
  std::string line = "knotfit: ";
  line += place;
  console.Message(line + "data set '" + Quoted(name) + "': " + problem + "; " +
                  consequence);
  console.KeepProblem(problem);
}

std::string Counted(uint64_t count, const char *one, const char *many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Place(std::string_view input, uint64_t line, size_t column) {
  std::string place = Quoted(input);
  place += ':';
  place += std::to_string(line);
  if (column > 0) {
    place += ':';
    place += std::to_string(column);
  }
  return place + ": ";
}

std::string ShellQuoted(std::string_view text) {
  if (Quoted(text) == text) { // nothing to escape: plain single quotes
    std::string word = "'";
    for (const char ch : text) {
      word += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    }
    return word + "'";
  }
  // Control bytes: $'...', where the shell reads Quoted's \xHH back as the
  // byte, and a quote or a backslash needs a backslash of its own.
  std::string escaped;
  for (const char ch : text) {
    if (ch == '\'' || ch == '\\') {
      escaped += '\\';
    }
    escaped += ch;
  }
  return "$'" + Quoted(escaped) + "'";
}

std::string MkdirHint(const std::vector<std::string> &dirs) {
  if (dirs.empty()) {
    return {};
  }
  std::string hint = dirs.size() == 1 ? "knotfit: create it with: mkdir -p"
                                      : "knotfit: create them with: mkdir -p";
  for (const std::string &dir : dirs) {
    hint += ' ';
    hint += ShellQuoted(dir);
  }
  return hint + " (or run with --mkdir)";
}
