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

void ReportDataSet(Console &console, const char *name,
                   const std::string &problem, const char *consequence) {
  console.Message("knotfit: data set '" + Quoted(name) + "': " + problem +
                  "; " + consequence);
  console.KeepProblem(problem + "; " + consequence);
}
