// A CSV file read as one data set: two of its columns, as x and y.
#ifndef KNOTFIT_INPUT_CSV_READER_H
#define KNOTFIT_INPUT_CSV_READER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct CsvOptions {
  char separator = 0; // 0: a tab, ';' or ',', the first found in the first
                      // line that is not blank or a comment
  // The columns of x and of each y: numbers from 1, or names from the
  // header line.
  std::vector<std::string> columns = {"1", "2"};
  bool skip_missing = false; // --missing skip: a missing field is no problem
  // --weights: the column of every point's weight, a number from 1 or a
  // header name; empty: none.
  std::string weights;
};

class CsvReader {
public:
  // Reads from in, which stays owned by the caller.
  CsvReader(std::FILE *in, const CsvOptions &options);

  // A data row: the chosen fields as written (without their quotes and
  // surrounding blanks), x's first, the weight's last, and their values;
  // missing[k] is nonzero when field k is a missing value that --missing
  // skip drops. A weight must be a finite number above 0.
  struct Row {
    std::vector<std::string_view> text;
    std::vector<double> value;
    std::vector<unsigned char> missing;
  };

  // The next data row; false at the end of the input, at a problem or at a
  // failed read (std::bad_alloc when a line does not fit in memory), and
  // once every curve has a problem of its own (below). The
  // views stay valid until the next call. A UTF-8 byte-order mark, blank
  // lines, lines starting with '#' and a first line that is not numeric (a
  // header) are passed over; "\n", "\r\n" and a lone "\r" end a line. With
  // ';' as separator a decimal comma is a decimal point.
  bool Next(Row &row);

  // Why reading stopped before the end ("empty field", ...); empty when it
  // did not. line() and column() (from 1; 0 for the whole line) say where.
  const std::string &problem() const { return problem_; }
  uint64_t line() const { return line_; }
  size_t column() const { return column_; }
  // The first problem of a y field of curve c (from 0): that curve's alone,
  // while the others are read on; null while it has none. The curve's
  // points end before its line.
  struct CurveProblem {
    std::string what;
    uint64_t line = 0;
    size_t column = 0;
  };
  const CurveProblem *curve_problem(size_t c) const;
  // The columns of x and y (from 1), once a row was read.
  size_t x_column() const { return chosen_.size() > 0 ? chosen_[0] + 1 : 0; }
  size_t y_column() const { return chosen_.size() > 1 ? chosen_[1] + 1 : 0; }
  // How a data set of column k (x's is 0) is named after it: its header
  // name, or its number when there is no header or the name would not do
  // in a file name; as --columns gives it while no line chose the columns.
  std::string ColumnLabel(size_t k) const;
  // The y columns read: one data set each.
  size_t curves() const { return options_.columns.size() - 1; }
  // Whether a row ends in a weight.
  bool weighted() const { return !options_.weights.empty(); }
  // The line of the first data row (1 while there is none).
  uint64_t first_row_line() const { return first_row_line_; }
  // The errno of a failed read, 0 while none failed. A failed read is never
  // taken as the end of the input: no row follows it.
  int error() const { return error_; }

private:
  bool TakeLine(std::string_view &text);
  void Refill();
  bool ReadLine();
  bool Split();
  bool Start();
  bool Field(size_t which, double &value);
  std::string TakeField(size_t k, Row &row);

  std::FILE *in_;
  CsvOptions options_;
  std::string buffer_; // bytes read; those from pos_ on not yet taken
  size_t pos_ = 0;
  bool eof_ = false; // nothing more to read: the end, or a failed read
  std::string_view line_text_;
  std::vector<std::string> fields_;
  std::vector<size_t> chosen_; // from 0
  std::vector<std::string> header_;
  std::string number_; // a field with its decimal comma made a point
  std::string problem_;
  uint64_t line_ = 0;
  uint64_t first_row_line_ = 1;
  uint64_t rows_ = 0;
  size_t column_ = 0;
  bool started_ = false;
  bool resolved_ = false; // chosen_ holds every column
  std::vector<CurveProblem> curve_problems_;
  size_t failed_curves_ = 0;
  int error_ = 0;
};

#endif
