// The binary coefficient table: what knotfit writes to CS/<name>, written
// and read without any file of the program's.
//
// Three forms, every field big-endian (docs/format.md has them byte by
// byte):
// - classic (what the program writes): a signed 32-bit knot count n, then n
//   records of five IEEE binary32 values x, y, a, b, c, from knot n-1 down to
//   knot 0; 4 + 20*n bytes, nothing else.
// - offset: a 28-byte header (the magic bytes 8B 4B 46 54, the version 1 and
//   the form 1 as 16-bit integers, n, then the origin x0 and y0 as
//   binary64), then the same records with x - x0 and y - y0 in place of x
//   and y; 28 + 20*n bytes.
// - double: the same header with the form 2, and records of five binary64
//   values; 28 + 40*n bytes.
// The magic's first byte makes the count a classic reader sees negative, so
// that it refuses the newer forms.
#ifndef KNOTFIT_TABLE_HPP
#define KNOTFIT_TABLE_HPP

#include "knotfit/spline.hpp"

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace knotfit {

// How a table stores its fields. The values are the form codes of the
// header.
enum class TableForm {
  kClassic = 0, // absolute x and y in binary32: 24 bits of the abscissas
  kOffset = 1,  // binary32 fields about a binary64 origin x0, y0
  kDouble = 2,  // binary64 fields about the same origin
};

// Reads a form by its name, "classic", "offset" or "double". False for
// anything else (out is then unchanged).
bool ParseTableForm(std::string_view text, TableForm &out);

// The form's name as ParseTableForm reads it.
const char *TableFormName(TableForm form);

// Writes the spline's table in the given form to out. The offset and double
// forms take as origin x0 the first knot's x and y0 = (min y + max y) / 2,
// and store x - x0 and y - y0 as computed in double, each then rounded once
// to its field. Raises Error, before writing anything, when a field is not
// finite once rounded to what it is stored in ("y of point 1 (1e+39)
// overflows binary32", "y - y0 of point 1 (1e+39) overflows binary32") or
// two knots are stored with the same x ("x of points 0 and 1 are both
// 1.7e+09 in binary32"): no reader could use such a table. Also raises Error
// when the stream fails.
void write_table(const Spline &spline, std::ostream &out,
                 TableForm form = TableForm::kClassic);
// The same table as bytes.
std::vector<unsigned char> table_bytes(const Spline &spline,
                                       TableForm form = TableForm::kClassic);

// What a fit's table in a form keeps of the fit. The table is flagged when
// no reader could use it (cause: a field not finite once rounded, or two
// knots stored with the same x; error NaN), when a field other than x that
// is not zero narrows to a subnormal or to zero in binary32 (cause: "b of
// knot 3 (1e-40) narrows to a subnormal"; y - y0 in the offset form), or
// when its curve, as the readers evaluate it, is more than 1e-6 of the
// fit's y range (of its largest |y| for level data, 1 where that is 0) off
// the fit's somewhere: error is the largest |T - S| found, at where it is.
// Only segments where the difference of the two cubics may reach half that
// tolerance are evaluated as the readers do.
struct TableCheck {
  std::string cause;
  double error = 0.0;
  double at = 0.0;
  bool flagged = false;
};
TableCheck check_table(const Spline &fit, TableForm form = TableForm::kClassic);

// The least form whose table of the fit is not flagged by check_table:
// classic, else offset, else double.
TableForm least_table_form(const Spline &fit);

// A table as read: its fields, knot 0 first, evaluated as every reader of
// them does: every field widened to double, the segment found by bisection,
// then Spline's formulas in double, with the same rules outside the knots
// and the same inverse. Consecutive knots may share an x (knots that
// collapsed in their field): the segment between them has zero width and is
// never used, as the segment of t is the one ending at the first knot with
// x >= t.
//
// In the offset and double forms the fields are relative to the origin: S
// at t is y0 plus the cubic of the fields at t - x0, its derivatives those
// of the cubic; the integral from p to q is the cubic's from p - x0 to
// q - x0 plus y0 (q - p); the inverse seeks the zeros of that S - v over t
// itself, each segment from x0 + x[k] to x0 + x[k+1].
class Table {
public:
  TableForm form() const { return form_; }
  // The origin of the offset and double forms; 0 for the classic one.
  double x0() const { return x0_; }
  double y0() const { return y0_; }
  // The number of knots, >= 1.
  std::size_t size() const {
    return form_ == TableForm::kDouble ? x64_.size() : x_.size();
  }
  // The binary32 fields of the classic and offset forms (in the offset form
  // x - x0 and y - y0); empty for the double form.
  const std::vector<float> &x() const { return x_; }
  const std::vector<float> &y() const { return y_; }
  const std::vector<float> &a() const { return a_; }
  const std::vector<float> &b() const { return b_; }
  const std::vector<float> &c() const { return c_; }
  // The binary64 fields of the double form (x - x0, y - y0, a, b, c); empty
  // for the other forms.
  const std::vector<double> &x64() const { return x64_; }
  const std::vector<double> &y64() const { return y64_; }
  const std::vector<double> &a64() const { return a64_; }
  const std::vector<double> &b64() const { return b64_; }
  const std::vector<double> &c64() const { return c64_; }

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
  TableForm form_ = TableForm::kClassic;
  double x0_ = 0.0, y0_ = 0.0;
  std::vector<float> x_, y_, a_, b_, c_;
  std::vector<double> x64_, y64_, a64_, b64_, c64_;
};

// Reads a table of any form from size bytes at data: the offset and double
// forms by their magic bytes, anything else as a classic table. A malformed
// table raises Error naming the defect and its byte offset ("table: x of
// knot 3 at byte 64 is not finite"): shorter than 4 bytes or than the
// header, a version or form this reader does not know, a count below 1, a
// size other than the count needs, an origin or a field that is not finite,
// an x below the one before.
Table read_table(const unsigned char *data, std::size_t size);
Table read_table(const std::vector<unsigned char> &bytes);
// Reads the stream, or the file at path (whose messages start with the path
// instead of "table"), record by record: at most the size n needs + 1
// bytes, each record checked as it arrives, so that an endless or random
// stream is refused within a few records; memory grows with the records read (a
// std::bad_alloc where there is none left). A longer table is refused as
// "... the table has more".
Table read_table(std::istream &in);
Table read_table_file(const std::string &path);

} // namespace knotfit

#endif
