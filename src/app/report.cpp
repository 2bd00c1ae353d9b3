#include "report.h"

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

void ReportDataSet(Console &console, std::string_view place, const char *name,
                   const std::string &problem, const char *consequence) {
  std::string line = "knotfit: ";
  line += place;
  console.Message(line + "data set '" + Quoted(name) + "': " + problem + "; " +
                  consequence);
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
  std::string plain; // the text without the quotes and backslashes that
  for (const char ch : text) { // Quoted escapes, and single quotes do not
    if (ch != '\'' && ch != '\\') {
      plain += ch;
    }
  }
  if (Quoted(plain) != plain) {
    return "$'" + Quoted(text) + "'";
  }
  std::string word = "'";
  for (const char ch : text) {
    word += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  }
  return word + "'";
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
