#include "knotfit/table.hpp"

#include "../evaluate/calculus.h"
#include "../evaluate/evaluate.h"
#include "../exact_math.h"
#include "../text/names.h"
#include "../text/short_numbers.h"
#include "big_endian.h"
#include "table_encoding.h"
#include "table_origin.h"

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
#include <string_view>
#include <system_error>
#include <tuple>
#include <type_traits>

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

struct FormName {
  TableForm form;
  const char *name;
};

constexpr FormName kForms[] = {{TableForm::kClassic, "classic"},
                               {TableForm::kOffset, "offset"},
                               {TableForm::kDouble, "double"}};

} // namespace

bool ParseTableForm(std::string_view text, TableForm &out) {
  return ParseName(kForms, &FormName::form, text, out);
}

const char *TableFormName(TableForm form) {
  const char *name = NameOf(kForms, &FormName::form, form);
  return name != nullptr ? name : "unknown";
}

std::vector<unsigned char> table_bytes(const Spline &spline, TableForm form) {
  const auto n = static_cast<int32_t>(spline.size());
  TableFields fields;
  fields.n = n;
  fields.x = spline.x().data();
  fields.y = spline.y().data();
  fields.a = spline.a().data();
  fields.b = spline.b().data();
  fields.c = spline.c().data();
  if (form != TableForm::kClassic) {
    SetOrigin(fields);
  }
  // No reader could use a table with a field that is not finite, or with
  // two knots it cannot tell apart.
  std::string problem = TableProblem(fields, nullptr, form);
  if (problem.empty()) {
    problem = CollapsedKnots(n, fields.x, nullptr, form, fields.x0);
  }
  if (!problem.empty()) {
    throw Error(problem);
  }
  std::vector<unsigned char> bytes(TableSize(form, spline.size()));
  ByteWriter out{reinterpret_cast<char *>(bytes.data())};
  EncodeTable(fields, form, out);
  return bytes;
}

void write_table(const Spline &spline, std::ostream &out, TableForm form) {
  const std::vector<unsigned char> bytes = table_bytes(spline, form);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw Error("table: write failed");
  }
}

class TableMaker {
public:
  // Decodes a table record by record as read(out, count) delivers its bytes
  // (fewer than asked only at the end), reading no more than the size its
  // count needs + 1 bytes and checking each record as it arrives: random
  // bytes are refused within a few records, and memory grows with the
  // records read, never from the count alone. name starts every message
  // ("table", or a path); size is the whole size where the caller knows it.
  template <class Read>
  static Table Decode(Read read, const std::string &name,
                      std::optional<std::size_t> size) {
    auto fail = [&name](const std::string &problem) {
      return Error(name + ": " + problem);
    };
    unsigned char head[kTableHeaderSize];
    std::size_t got = read(head, 4);
    if (got < 4) {
      throw fail(std::to_string(got) + " bytes, too short for the knot count");
    }
    Table t;
    // Where the count and the records start.
    std::size_t count_at = 0, start = 4;
    if (std::equal(head, head + 4, kTableMagic)) {
      got = 4 + read(head + 4, kTableHeaderSize - 4);
      if (got < kTableHeaderSize) {
        throw fail(std::to_string(got) + " bytes, too short for the header (" +
                   std::to_string(kTableHeaderSize) + " bytes)");
      }
      const unsigned version = LoadBigEndian16(head + 4);
      if (version != kTableVersion) {
        throw fail("unknown version " + std::to_string(version) +
                   " at byte 4 (this reader reads version " +
                   std::to_string(kTableVersion) + ")");
      }
      const unsigned form = LoadBigEndian16(head + 6);
      if (form != 1 && form != 2) {
        throw fail("unknown form " + std::to_string(form) +
                   " at byte 6 (1 offset, 2 double)");
      }
      t.form_ = static_cast<TableForm>(form);
      count_at = 8;
      start = kTableHeaderSize;
    }
    const auto count = static_cast<int32_t>(LoadBigEndian32(head + count_at));
    if (count < 1) {
      throw fail("knot count " + std::to_string(count) + " at byte " +
                 std::to_string(count_at) + " is below 1");
    }
    if (t.form_ != TableForm::kClassic) {
      t.x0_ = LoadBinary64(head + 12);
      t.y0_ = LoadBinary64(head + 20);
      for (const auto &[value, field, at] :
           {std::tuple{t.x0_, "x0", 12}, std::tuple{t.y0_, "y0", 20}}) {
        if (!std::isfinite(value)) {
          throw fail(std::string(field) + " at byte " + std::to_string(at) +
                     " is not finite");
        }
      }
    }
    const auto n = static_cast<std::size_t>(count);
    const uint64_t needed = TableSize(t.form_, n);
    auto wrong_size = [&](const std::string &has) {
      return fail("knot count " + std::to_string(count) + " at byte " +
                  std::to_string(count_at) + " needs " +
                  std::to_string(needed) + " bytes, the table has " + has);
    };
    // The records, of binary32 or binary64 fields: record j holds knot
    // n-1-j and starts at byte start + j * record.
    auto records = [&](auto &x, auto &y, auto &a, auto &b, auto &c) {
      using Field = typename std::remove_reference_t<decltype(x)>::value_type;
      constexpr std::size_t kRecord = 5 * sizeof(Field);
      auto load = [](const unsigned char *at) {
        if constexpr (sizeof(Field) == 4) {
          return LoadBinary32(at);
        } else {
          return LoadBinary64(at);
        }
      };
      auto text = [](Field v) {
        if constexpr (sizeof(Field) == 4) {
          return ShortBinary32(v);
        } else {
          return ShortNumber(v);
        }
      };
      std::vector<Field> *fields[5] = {&x, &y, &a, &b, &c};
      if (size && *size == needed) {
        // The bytes are all there: room for the fields at once.
        for (std::vector<Field> *field : fields) {
          field->reserve(n);
        }
      }
      unsigned char bytes[kRecord];
      for (std::size_t j = 0; j < n; ++j) {
        got = read(bytes, kRecord);
        if (got < kRecord) {
          throw wrong_size(std::to_string(start + kRecord * j + got));
        }
        const std::size_t k = n - 1 - j;
        for (std::size_t f = 0; f < 5; ++f) {
          const Field v = load(bytes + sizeof(Field) * f);
          if (!std::isfinite(v)) {
            throw fail(std::string(kFieldNames[f]) + " of knot " +
                       std::to_string(k) + " at byte " +
                       std::to_string(start + kRecord * j + sizeof(Field) * f) +
                       " is not finite");
          }
          fields[f]->push_back(v);
        }
        // Equal x are knots that collapsed in their field: a segment of
        // zero width, which no reader ever selects.
        if (j > 0 && x[j] > x[j - 1]) {
          throw fail("x of knot " + std::to_string(k + 1) + " at byte " +
                     std::to_string(start + kRecord * (j - 1)) +
                     " is below x of knot " + std::to_string(k) + " (" +
                     text(x[j - 1]) + " after " + text(x[j]) + ")");
        }
      }
      for (std::vector<Field> *field : fields) {
        std::reverse(field->begin(), field->end()); // knot 0 first
      }
    };
    if (t.form_ == TableForm::kDouble) {
      records(t.x64_, t.y64_, t.a64_, t.b64_, t.c64_);
    } else {
      records(t.x_, t.y_, t.a_, t.b_, t.c_);
    }
    // The absolute abscissas x0 + x, and the span between the end knots,
    // must be doubles: every reader computes them. x increases, so the ends
    // decide.
    if (t.form_ != TableForm::kClassic) {
      const bool wide = t.form_ == TableForm::kDouble;
      const double first = t.x0_ + (wide ? t.x64_.front() : t.x_.front());
      const double last = t.x0_ + (wide ? t.x64_.back() : t.x_.back());
      if (!std::isfinite(last - first)) {
        const std::size_t k = std::isfinite(first) ? n - 1 : 0;
        throw fail("x of knot " + std::to_string(k) + " at byte " +
                   std::to_string(start + (wide ? 40 : 20) * (n - 1 - k)) +
                   ": x0 + x or the knots' span overflows a double");
      }
    }
    if (read(head, 1) != 0) {
      throw wrong_size(size ? std::to_string(*size) : "more");
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

// The classic form here, the others in table_origin.cpp.
double Table::value(double t, Extrapolation e) const {
  if (form_ != TableForm::kClassic) {
    return OriginAt(*this, 0, t, e);
  }
  return Calculus(PiecesOf(*this)).At(0, t, e);
}

double Table::derivative(double t, Extrapolation e) const {
  if (form_ != TableForm::kClassic) {
    return OriginAt(*this, 1, t, e);
  }
  return Calculus(PiecesOf(*this)).At(1, t, e);
}

double Table::second_derivative(double t, Extrapolation e) const {
  if (form_ != TableForm::kClassic) {
    return OriginAt(*this, 2, t, e);
  }
  return Calculus(PiecesOf(*this)).At(2, t, e);
}

double Table::integral(double lo, double hi, Extrapolation e) const {
  if (form_ != TableForm::kClassic) {
    return OriginIntegral(*this, lo, hi, e);
  }
  return Calculus(PiecesOf(*this)).Integral(lo, hi, e);
}

std::vector<double> Table::inverse(double v) const {
  if (form_ != TableForm::kClassic) {
    return OriginInverse(*this, v);
  }
  return Calculus(PiecesOf(*this)).Inverse(v);
}

} // namespace knotfit
