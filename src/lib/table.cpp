#include "knotfit/table.hpp"

#include "big_endian.h"
#include "calculus.h"
#include "evaluate.h"
#include "exact_math.h"
#include "short_numbers.h"
#include "table_encoding.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <system_error>

namespace knotfit {

namespace {

constexpr const char *kFieldNames[5] = {"x", "y", "a", "b", "c"};

// Encodes into memory of the table's size, allocated up front.
struct ByteWriter {
  char *at;
  char *Room(std::size_t /*n*/) const { return at; }
  void Commit(char *end) { at = end; }
  bool ok() const { return true; }
};

} // namespace

std::vector<unsigned char> table_bytes(const Spline &spline) {
  const auto n = static_cast<int32_t>(spline.size());
  TableFields fields;
  fields.n = n;
  fields.x = spline.x().data();
  fields.y = spline.y().data();
  fields.a = spline.a().data();
  fields.b = spline.b().data();
  fields.c = spline.c().data();
  // No reader could use a table with a field that is not finite, or with
  // two knots it cannot tell apart.
  std::string problem = TableProblem(fields);
  if (problem.empty()) {
    problem = CollapsedKnots(n, fields.x);
  }
  if (!problem.empty()) {
    throw Error(problem);
  }
  std::vector<unsigned char> bytes(4 + 20 * spline.size());
  ByteWriter out{reinterpret_cast<char *>(bytes.data())};
  EncodeTable(fields, out, [](const float *) {});
  return bytes;
}

void write_table(const Spline &spline, std::ostream &out) {
  const std::vector<unsigned char> bytes = table_bytes(spline);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw Error("table: write failed");
  }
}

class TableMaker {
public:
  // Decodes a table; name starts every message ("table", or a path).
  static Table Decode(const unsigned char *data, std::size_t size,
                      const std::string &name) {
    auto fail = [&name](const std::string &problem) {
      return Error(name + ": " + problem);
    };
    if (size < 4) {
      throw fail(std::to_string(size) + " bytes, too short for the knot count");
    }
    const auto count = static_cast<int32_t>(LoadBigEndian32(data));
    if (count < 1) {
      throw fail("knot count " + std::to_string(count) +
                 " at byte 0 is below 1");
    }
    const auto n = static_cast<std::size_t>(count);
    const uint64_t needed = 4 + 20 * uint64_t{n};
    if (size != needed) {
      throw fail("knot count " + std::to_string(count) + " at byte 0 needs " +
                 std::to_string(needed) + " bytes, the table has " +
                 std::to_string(size));
    }
    Table t;
    std::vector<float> *fields[5] = {&t.x_, &t.y_, &t.a_, &t.b_, &t.c_};
    for (std::vector<float> *field : fields) {
      field->resize(n);
    }
    // Knot k's record starts at byte 4 + 20*(n-1-k).
    auto offset = [n](std::size_t k, std::size_t f) {
      return std::to_string(4 + 20 * (n - 1 - k) + 4 * f);
    };
    for (std::size_t k = n; k-- > 0;) {
      for (std::size_t f = 0; f < 5; ++f) {
        const float v = Binary32FromBits(
            LoadBigEndian32(data + 4 + 20 * (n - 1 - k) + 4 * f));
        if (!std::isfinite(v)) {
          throw fail(std::string(kFieldNames[f]) + " of knot " +
                     std::to_string(k) + " at byte " + offset(k, f) +
                     " is not finite");
        }
        (*fields[f])[k] = v;
      }
    }
    // Equal x are knots that collapsed in binary32: a segment of zero width,
    // which no reader ever selects.
    for (std::size_t k = 1; k < n; ++k) {
      if (t.x_[k] < t.x_[k - 1]) {
        throw fail("x of knot " + std::to_string(k) + " at byte " +
                   offset(k, 0) + " is below x of knot " +
                   std::to_string(k - 1) + " (" + ShortBinary32(t.x_[k]) +
                   " after " + ShortBinary32(t.x_[k - 1]) + ")");
      }
    }
    return t;
  }
};

Table read_table(const unsigned char *data, std::size_t size) {
  return TableMaker::Decode(data, size, "table");
}

Table read_table(const std::vector<unsigned char> &bytes) {
  return TableMaker::Decode(bytes.data(), bytes.size(), "table");
}

Table read_table(std::istream &in) {
  std::vector<unsigned char> bytes;
  char block[4096];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    bytes.insert(bytes.end(), block, block + in.gcount());
  }
  if (in.bad()) {
    throw Error("table: read failed");
  }
  return read_table(bytes);
}

Table read_table_file(const std::string &path) {
  auto failure = [&path](const char *what) {
    return Error(path + ": " + what + ": " +
                 std::error_code(errno, std::generic_category()).message());
  };
  const std::unique_ptr<std::FILE, int (*)(std::FILE *)> f(
      std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) {
    throw failure("cannot open");
  }
  std::vector<unsigned char> bytes;
  unsigned char block[4096];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, f.get())) > 0) {
    bytes.insert(bytes.end(), block, block + got);
  }
  if (std::ferror(f.get())) {
    throw failure("cannot read");
  }
  return TableMaker::Decode(bytes.data(), bytes.size(), path);
}

namespace {

Pieces<float> PiecesOf(const Table &t) {
  return {t.size(),     t.x().data(), t.y().data(),
          t.a().data(), t.b().data(), t.c().data()};
}

} // namespace

double Table::value(double t, Extrapolation e) const {
  return Calculus(PiecesOf(*this)).At(0, t, e);
}

double Table::derivative(double t, Extrapolation e) const {
  return Calculus(PiecesOf(*this)).At(1, t, e);
}

double Table::second_derivative(double t, Extrapolation e) const {
  return Calculus(PiecesOf(*this)).At(2, t, e);
}

double Table::integral(double lo, double hi, Extrapolation e) const {
  return Calculus(PiecesOf(*this)).Integral(lo, hi, e);
}

std::vector<double> Table::inverse(double v) const {
  return Calculus(PiecesOf(*this)).Inverse(v);
}

} // namespace knotfit
