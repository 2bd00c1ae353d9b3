// Tables of named values (the methods, the rules beyond the knots, the
// table forms, the report's flags): each row holds a value and its name, and
// one rule reads a name, names a value and lists the names.
#ifndef KNOTFIT_LIB_NAMES_H
#define KNOTFIT_LIB_NAMES_H

#include <string>
#include <string_view>

namespace knotfit {

// The value of the row named text, into out; false (out unchanged) when no
// row has that name.
template <class Rows, class Row, class Value>
bool ParseName(const Rows &rows, Value Row::*value, std::string_view text,
               Value &out) {
  for (const Row &row : rows) {
    if (text == row.name) {
      out = row.*value;
      return true;
    }
  }
  return false;
}

// The name of the row holding v; null when none does.
template <class Rows, class Row, class Value>
const char *NameOf(const Rows &rows, Value Row::*value, Value v) {
  for (const Row &row : rows) {
    if (row.*value == v) {
      return row.name;
    }
  }
  return nullptr;
}

// Every row's name in order, each followed by what suffix gives its row,
// with ", " between them: "clamp, linear, cubic, nan".
template <class Rows, class Suffix>
std::string NameList(const Rows &rows, Suffix suffix) {
  std::string list;
  for (const auto &row : rows) {
    list += (list.empty() ? "" : ", ") + std::string(row.name) + suffix(row);
  }
  return list;
}

} // namespace knotfit

#endif
