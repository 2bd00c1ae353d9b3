#include "knotfit/table.hpp"

#include "../evaluate/calculus.h"
#include "../evaluate/evaluate.h"
#include "../exact_math.h"
#include "../text/short_numbers.h"
#include "big_endian.h"
#include "table_encoding.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <istream>
#include <memory>
#include <optional>
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
  // Decodes a table record by record as read(out, count) delivers its bytes
  // (fewer than asked only at the end), reading no more than 4 + 20*n + 1
  // bytes and checking each record as it arrives: random bytes are refused
  // within a few records, and memory grows with the records read, never
  // from the count alone. name starts every message ("table", or a path);
  // size is the whole size where the caller knows it.
  template <class Read>
  static Table Decode(Read read, const std::string &name,
                      std::optional<std::size_t> size) {
    auto fail = [&name](const std::string &problem) {
      return Error(name + ": " + problem);
    };
    unsigned char bytes[20];
    std::size_t got = read(bytes, 4);
    if (got < 4) {
      throw fail(std::to_string(got) + " bytes, too short for the knot count");
    }
    const auto count = static_cast<int32_t>(LoadBigEndian32(bytes));
    if (count < 1) {
      throw fail("knot count " + std::to_string(count) +
                 " at byte 0 is below 1");
    }
    const auto n = static_cast<std::size_t>(count);
    const uint64_t needed = 4 + 20 * uint64_t{n};
    auto wrong_size = [&](const std::string &has) {
      return fail("knot count " + std::to_string(count) + " at byte 0 needs " +
                  std::to_string(needed) + " bytes, the table has " + has);
    };
    Table t;
    std::vector<float> *fields[5] = {&t.x_, &t.y_, &t.a_, &t.b_, &t.c_};
    if (size && *size == needed) {
      // The bytes are all there: room for the fields at once.
      for (std::vector<float> *field : fields) {
        field->reserve(n);
      }
    }
    // Record j holds knot n-1-j and starts at byte 4 + 20*j.
    for (std::size_t j = 0; j < n; ++j) {
      got = read(bytes, 20);
      if (got < 20) {
        throw wrong_size(std::to_string(4 + 20 * j + got));
      }
      const std::size_t k = n - 1 - j;
      for (std::size_t f = 0; f < 5; ++f) {
        const float v = Binary32FromBits(LoadBigEndian32(bytes + 4 * f));
        if (!std::isfinite(v)) {
          throw fail(std::string(kFieldNames[f]) + " of knot " +
                     std::to_string(k) + " at byte " +
                     std::to_string(4 + 20 * j + 4 * f) + " is not finite");
        }
        fields[f]->push_back(v);
      }
      // Equal x are knots that collapsed in binary32: a segment of zero
      // width, which no reader ever selects.
      if (j > 0 && t.x_[j] > t.x_[j - 1]) {
        throw fail("x of knot " + std::to_string(k + 1) + " at byte " +
                   std::to_string(4 + 20 * (j - 1)) + " is below x of knot " +
                   std::to_string(k) + " (" + ShortBinary32(t.x_[j - 1]) +
                   " after " + ShortBinary32(t.x_[j]) + ")");
      }
    }
    if (read(bytes, 1) != 0) {
      throw wrong_size(size ? std::to_string(*size) : "more");
    }
    for (std::vector<float> *field : fields) {
      std::reverse(field->begin(), field->end()); // knot 0 first
    }
    return t;
  }

  static Table Decode(const unsigned char *data, std::size_t size) {
    std::size_t at = 0;
    auto read = [&](unsigned char *out, std::size_t count) {
      const std::size_t got = std::min(count, size - at);
      std::copy(data + at, data + at + got, out);
      at += got;
      return got;
    };
    return Decode(read, "table", size);
  }
};

Table read_table(const unsigned char *data, std::size_t size) {
  return TableMaker::Decode(data, size);
}

Table read_table(const std::vector<unsigned char> &bytes) {
  return TableMaker::Decode(bytes.data(), bytes.size());
}

Table read_table(std::istream &in) {
  auto read = [&in](unsigned char *out, std::size_t count) {
    in.read(reinterpret_cast<char *>(out), static_cast<std::streamsize>(count));
    if (in.bad()) {
      throw Error("table: read failed");
    }
    return static_cast<std::size_t>(in.gcount());
  };
  return TableMaker::Decode(read, "table", std::nullopt);
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
  auto read = [&](unsigned char *out, std::size_t count) {
    const std::size_t got = std::fread(out, 1, count, f.get());
    if (got < count && std::ferror(f.get())) {
      throw failure("cannot read");
    }
    return got;
  };
  return TableMaker::Decode(read, path, std::nullopt);
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
