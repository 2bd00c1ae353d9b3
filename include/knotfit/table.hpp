// The binary coefficient table: what knotfit writes to CS/<name>, written
// and read without any file of the program's.
//
// Format (every field big-endian): a signed 32-bit knot count n, then n
// records of five IEEE binary32 values x, y, a, b, c, from knot n-1 down to
// knot 0; 4 + 20*n bytes, nothing else.
#ifndef KNOTFIT_TABLE_HPP
#define KNOTFIT_TABLE_HPP

#include "knotfit/spline.hpp"

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

namespace knotfit {

// Writes the spline's table to out. Raises Error, before writing anything,
// when a value is not finite once rounded to binary32 ("y of point 1 (1e+39)
// overflows binary32") or two knots round to the same x ("x of points 0 and
// 1 are both 1.7e+09 in binary32"): no reader could use such a table. Also
// raises Error when the stream fails.
void write_table(const Spline &spline, std::ostream &out);
// The same table as bytes.
std::vector<unsigned char> table_bytes(const Spline &spline);

// A table as read: the binary32 fields, knot 0 first, evaluated as a reader
// of those fields does: every field widened to double, the segment found by
// bisection, then Spline's formulas in double. Outside [x[0], x[n-1]] the
// value is the end ordinate and the derivatives are 0, as for Spline.
class Table {
public:
  std::size_t size() const { return x_.size(); } // the number of knots, >= 1
  const std::vector<float> &x() const { return x_; }
  const std::vector<float> &y() const { return y_; }
  const std::vector<float> &a() const { return a_; }
  const std::vector<float> &b() const { return b_; }
  const std::vector<float> &c() const { return c_; }

  double value(double t) const;
  double derivative(double t) const;
  double second_derivative(double t) const;
  double integral(double lo, double hi) const;

private:
  friend class TableMaker; // read_table's helper, in the library
  Table() = default;
  std::vector<float> x_, y_, a_, b_, c_;
};

// Reads a table from size bytes at data. A malformed table raises Error
// naming the defect and its byte offset ("table: x of knot 3 at byte 64 is
// not finite"): shorter than 4 bytes, a count below 1, a size other than
// 4 + 20*n, a field that is not finite, x not strictly increasing.
Table read_table(const unsigned char *data, std::size_t size);
Table read_table(const std::vector<unsigned char> &bytes);
// Reads the stream to its end.
Table read_table(std::istream &in);
// Reads the file at path; its messages start with the path instead of
// "table".
Table read_table_file(const std::string &path);

} // namespace knotfit

#endif
