#include "input/csv_reader.h"

#include "console/messages.h"
#include "input/number_text.h"

#include "knotfit_internal.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

using knotfit::detail::IsMissingText;

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char ch) {
    return ch >= '0' && ch <= '9';
  });
}

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

// "'<text>'", escaped as in messages; built piece by piece, as g++ 12 warns
// falsely on the equivalent chain of '+'.
std::string InQuotes(std::string_view text) {
  std::string quoted(1, '\'');
  quoted += Quoted(text);
  quoted += '\'';
  return quoted;
}

} // namespace

CsvReader::CsvReader(std::FILE *in, const CsvOptions &options)
    : in_(in), options_(options), curve_problems_(curves()) {}

// Appends the next block of the input to what is left of the buffer. A line
// longer than the memory can hold throws std::bad_alloc here: it ends the
// run, as a token that does not fit does, and is never taken as the end.
void CsvReader::Refill() {
  constexpr size_t kBlock = size_t{1} << 16;
  buffer_.erase(0, pos_);
  pos_ = 0;
  const size_t kept = buffer_.size();
  buffer_.resize(kept + kBlock);
  errno = 0;
  const size_t got = std::fread(buffer_.data() + kept, 1, kBlock, in_);
  buffer_.resize(kept + got);
  if (got < kBlock) {
    eof_ = true;
    if (std::ferror(in_)) {
      error_ = errno != 0 ? errno : EIO;
    }
  }
}

// The next line of the input without its line end: "\n", "\r\n" or a lone
// "\r" (a CR at the end of what was read may be the first half of a CRLF:
// the next block decides). False at the end of the input, and at a failed
// read, whose line is cut short: it is no line at all.
bool CsvReader::TakeLine(std::string_view &text) {
  size_t scanned = 0; // bytes after pos_ known to hold no line end
  for (;;) {
    if (error_ != 0) {
      return false;
    }
    const size_t end = buffer_.find_first_of("\r\n", pos_ + scanned);
    const bool found =
        end != std::string::npos &&
        (buffer_[end] == '\n' || end + 1 < buffer_.size() || eof_);
    if (found || (eof_ && pos_ < buffer_.size())) {
      const size_t stop = found ? end : buffer_.size();
      text = std::string_view(buffer_).substr(pos_, stop - pos_);
      pos_ = stop;
      if (found) {
        const bool crlf = buffer_[end] == '\r' && end + 1 < buffer_.size() &&
                          buffer_[end + 1] == '\n';
        pos_ += crlf ? 2 : 1;
      }
      return true;
    }
    if (eof_) {
      return false;
    }
    scanned = (end != std::string::npos ? end : buffer_.size()) - pos_;
    Refill();
  }
}

// The next line that is not blank or a comment, without its line end.
bool CsvReader::ReadLine() {
  std::string_view text;
  while (TakeLine(text)) {
    ++line_;
    if (line_ == 1 && text.substr(0, 3) == "\xEF\xBB\xBF") {
      text.remove_prefix(3); // a UTF-8 byte-order mark
    }
    const std::string_view trimmed = TrimBlanks(text);
    if (!trimmed.empty() && trimmed[0] != '#') {
      line_text_ = text;
      return true;
    }
  }
  return false;
}

// The line's fields: split at the separator outside double quotes; a quoted
// field loses its quotes ("" inside is one quote), every field its
// surrounding blanks. A quote still open at the line's end is a problem of
// its field: fields do not run across lines here, so the rest of the line
// would be taken into it unseen. So is text after a closing quote (other
// than blanks): whether it belongs to the field cannot be told.
bool CsvReader::Split() {
  fields_.assign(1, std::string());
  bool in_quotes = false;
  bool closed = false; // the field's quote has closed
  const std::string_view text = line_text_;
  for (size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    std::string &field = fields_.back();
    if (in_quotes) {
      if (ch != '"') {
        field += ch;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        in_quotes = false;
        closed = true;
      }
    } else if (ch == options_.separator) {
      fields_.emplace_back();
      closed = false;
    } else if (closed && ch != ' ' && ch != '\t') {
      problem_ = "text after a closing quote";
      column_ = fields_.size();
      return false;
    } else if (ch == '"' && TrimBlanks(field).empty()) {
      field.clear();
      in_quotes = true;
    } else if (!closed) {
      field += ch;
    }
  }
  if (in_quotes) {
    problem_ = "unterminated quote";
    column_ = fields_.size();
    return false;
  }
  for (std::string &field : fields_) {
    field = std::string(TrimBlanks(field));
  }
  return true;
}

// At the first line: the chosen columns, and whether the line is a header
// (a column chosen by name, or a chosen field that is not a number), then
// passed over. False when a named column is not in the header or names two
// of its columns (which one is meant cannot be told), or nothing follows the
// header.
bool CsvReader::Start() {
  started_ = true;
  bool header = false;
  std::vector<std::string> columns = options_.columns;
  if (weighted()) {
    columns.push_back(options_.weights);
  }
  chosen_.assign(columns.size(), 0);
  for (size_t k = 0; k < chosen_.size(); ++k) {
    const std::string &column = columns[k];
    if (AllDigits(column)) {
      chosen_[k] = std::strtoul(column.c_str(), nullptr, 10) - 1;
      continue;
    }
    header = true;
    const auto found = std::find(fields_.begin(), fields_.end(), column);
    if (found == fields_.end()) {
      problem_ = "no column " + InQuotes(column) + " in the header";
      return false;
    }
    chosen_[k] = static_cast<size_t>(found - fields_.begin());
    const auto again = std::find(found + 1, fields_.end(), column);
    if (again != fields_.end()) {
      problem_ = InQuotes(column) + " names both column " +
                 std::to_string(chosen_[k] + 1) + " and column " +
                 std::to_string(again - fields_.begin() + 1) + " of the header";
      return false;
    }
  }
  resolved_ = true;
  for (const size_t k : chosen_) {
    double value = 0;
    if (k < fields_.size() && !fields_[k].empty() && !Field(k, value) &&
        !(options_.skip_missing && IsMissingText(fields_[k]))) {
      header = true;
    }
  }
  if (!header) {
    return true;
  }
  header_ = fields_;
  return ReadLine() && Split();
}

std::string CsvReader::ColumnLabel(size_t k) const {
  if (!resolved_) {
    // Nothing read chose the columns (a problem in the line that would):
    // each is named as --columns names it.
    const std::string &column = options_.columns[k];
    return AllDigits(column)
               ? std::to_string(std::strtoul(column.c_str(), nullptr, 10))
               : column;
  }
  // A control byte is one that messages escape: C0, DEL and C1, raw or
  // UTF-8-encoded.
  const size_t column = chosen_[k];
  if (column < header_.size()) {
    const std::string &name = header_[column];
    if (!name.empty() && name.find('/') == std::string::npos &&
        Quoted(name) == name) {
      return name;
    }
  }
  return std::to_string(column + 1);
}

// The value of field k; false when it is not a number as a whole.
bool CsvReader::Field(size_t k, double &value) {
  number_ = fields_[k];
  if (options_.separator == ';') {
    std::replace(number_.begin(), number_.end(), ',', '.');
  }
  bool whole = false;
  value = ParseAtof(number_, &whole);
  return whole;
}

bool CsvReader::Next(Row &row) {
  if (!problem_.empty() || !ReadLine()) {
    return false;
  }
  if (!started_ && options_.separator == 0) {
    options_.separator = ',';
    for (const char separator : {'\t', ';', ','}) {
      if (line_text_.find(separator) != std::string_view::npos) {
        options_.separator = separator;
        break;
      }
    }
  }
  if (!Split() || (!started_ && !Start())) {
    return false;
  }
  if (rows_++ == 0) {
    first_row_line_ = line_;
  }
  const size_t count = chosen_.size();
  row.text.resize(count);
  row.value.resize(count);
  row.missing.assign(count, 0);
  for (size_t k = 0; k < count; ++k) {
    const std::string why = TakeField(k, row);
    if (why.empty()) {
      continue;
    }
    // A y field's problem is its curve's alone; x's or the weight's is
    // every curve's, and ends the reading.
    const bool y = k > 0 && k <= curves();
    if (!y) {
      problem_ = why;
      return false;
    }
    CurveProblem &own = curve_problems_[k - 1];
    if (own.what.empty()) {
      own = {why, line_, column_};
      ++failed_curves_;
    }
  }
  column_ = 0;
  // When every curve has failed, nothing more is read.
  return failed_curves_ < curves();
}

// Field k of the row into row, at column_; why it is no value, or empty.
std::string CsvReader::TakeField(size_t k, Row &row) {
  column_ = chosen_[k] + 1;
  if (chosen_[k] >= fields_.size()) {
    return "no column " + std::to_string(column_) + " in this row";
  }
  const std::string &field = fields_[chosen_[k]];
  row.text[k] = field;
  const bool empty = field.empty();
  const bool weight = weighted() && k + 1 == chosen_.size();
  if (!empty && Field(chosen_[k], row.value[k])) {
    if (weight && !(std::isfinite(row.value[k]) && row.value[k] > 0.0)) {
      return "weight " + InQuotes(field) + " is not a finite number above 0";
    }
    return {};
  }
  if (empty || IsMissingText(field)) {
    if (options_.skip_missing) {
      row.missing[k] = 1;
      row.value[k] = 0;
      return {};
    }
    return std::string(empty ? "empty field"
                             : InQuotes(field) + " is not a number") +
           " (a missing value? use --missing skip)";
  }
  return InQuotes(field) + " is not a number";
}

const CsvReader::CurveProblem *CsvReader::curve_problem(size_t c) const {
  return c < curve_problems_.size() && !curve_problems_[c].what.empty()
             ? &curve_problems_[c]
             : nullptr;
}
