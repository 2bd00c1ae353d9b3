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
// bisection, then Spline's formulas in double, with the same rules outside
// the knots and the same inverse. Consecutive knots may share an x (knots
// that collapsed in binary32): the segment between them has zero width and
// is never used, as the segment of t is the one ending at the first knot
// with x >= t.
class Table {
public:
  std::size_t size() const { return x_.size(); } // the number of knots, >= 1
  const std::vector<float> &x() const { return x_; }
  const std::vector<float> &y() const { return y_; }
  const std::vector<float> &a() const { return a_; }
  const std::vector<float> &b() const { return b_; }
  const std::vector<float> &c() const { return c_; }

  double value(double t, Extrapolation e = Extrapolation::kClamp) const;
  double derivative(double t, Extrapolation e = Extrapolation::kClamp) const;
  double second_derivative(double t,
                           Extrapolation e = Extrapolation::kClamp) const;
  double integral(double lo, double hi,
                  Extrapolation e = Extrapolation::kClamp) const;
  std::vector<double> inverse(double v) const;

private:
  friend class TableMaker; // read_table's helper, in the library
  Table() = default;
  std::vector<float> x_, y_, a_, b_, c_;
};

// Reads a table from size bytes at data. A malformed table raises Error
// naming the defect and its byte offset ("table: x of knot 3 at byte 64 is
// not finite"): shorter than 4 bytes, a count below 1, a size other than
// 4 + 20*n, a field that is not finite, an x below the one before.
Table read_table(const unsigned char *data, std::size_t size);
Table read_table(const std::vector<unsigned char> &bytes);
// Reads the stream, or the file at path (whose messages start with the path
// instead of "table"), record by record: at most 4 + 20*n + 1 bytes, each
// record checked as it arrives, so that an endless or random stream is
// refused within a few records; memory grows with the records read (a
// std::bad_alloc where there is none left). A longer table is refused as
// "... the table has more".
Table read_table(std::istream &in);
Table read_table_file(const std::string &path);

} // namespace knotfit

#endif
