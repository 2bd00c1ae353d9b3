#include "console/messages.h"

void PrintDataSetMessage(Console &console, std::string_view place,
                         std::string_view name, const std::string &problem,
                         const char *consequence) {
  std::string line = "knotfit: ";
  line += place;
  console.Message(line + "data set '" + Quoted(name) + "': " + problem + "; " +
                  consequence);
}

std::string OrderHint(std::string_view problem,
                      const knotfit::detail::MeasuredRules &rules) {
  // A smoothing fit takes equal x: only their order can be wrong.
  const bool decreases = problem.substr(0, 11) == "x decreases";
  if (problem.substr(0, 16) != "x not increasing" && !decreases) {
    return {};
  }
  std::string hint;
  if (!rules.sort) {
    hint = "sort them with --sort";
  }
  if (rules.ties == knotfit::detail::Ties::kKeep && !decreases) {
    hint += hint.empty() ? "" : ", ";
    hint += "merge equal x with --ties mean";
  }
  return hint.empty() ? hint : "knotfit: " + hint;
}

void ReportMeasured(Console &console, std::string_view place,
                    std::string_view name,
                    const knotfit::detail::MeasuredCounts &counts,
                    uint64_t first_dropped_line, uint64_t first_merged_line,
                    const knotfit::detail::MeasuredRules &rules) {
  const std::string start =
      "knotfit: " + std::string(place) + "data set '" + Quoted(name) + "': ";
  if (counts.dropped > 0) {
    console.Message(start +
                    Counted(counts.dropped, "point with a missing value",
                            "points with a missing value") +
                    " dropped, first at line " +
                    std::to_string(first_dropped_line));
  }
  if (counts.merged > 0) {
    console.Message(start + std::to_string(counts.merged) +
                    " repeated x merged (" +
                    knotfit::detail::TiesName(rules.ties) +
                    "), first at line " + std::to_string(first_merged_line));
  }
}

std::string Counted(uint64_t count, const char *one, const char *many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string PlaceName(const SourcePlace &at) {
  std::string place = Quoted(at.input);
  place += ':';
  place += std::to_string(at.line);
  if (at.column > 0) {
    place += ':';
    place += std::to_string(at.column);
  }
  return place;
}

std::string Place(const SourcePlace &at) {
  return PlaceName(at) + ": ";
}

std::string Place(std::string_view input, uint64_t line, size_t column) {
  return Place(SourcePlace{input, line, column});
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
