// A C99 header holding tables: per table its knot count, its five columns
// and a static inline evaluation with the tables' rule, needing nothing but
// <stdint.h>.
#ifndef KNOTFIT_EXPORT_C_SOURCE_H
#define KNOTFIT_EXPORT_C_SOURCE_H

#include "fixed_point.h"

#include <knotfit/table.hpp>

#include <array>
#include <optional>
#include <string>
#include <vector>

struct ExportedTable {
  std::string path, name, symbol; // symbol: the prefix of its C names
  knotfit::Table table;
  Columns fields; // as stored, widened
  // As the type float holds them: the binary32 fields, or the double
  // form's narrowed (for that type only).
  std::array<std::vector<float>, 5> floats;
  std::optional<FixedTable> fixed; // for the types i32 and i16

  // Whether the fields are about an origin (the offset and double forms).
  bool origin() const { return table.form() != knotfit::TableForm::kClassic; }
};

// type: float, double (the fields as they are, evaluated as knotfit/table.h
// does) or i32, i16 (each table's fixed form). A table of the offset or
// double form comes with its origin as the double constants NAME_x0 and
// NAME_y0: NAME_value takes x - NAME_x0 and gives S - NAME_y0 in float and
// fixed point, and takes x and gives S in double.
std::string CHeader(const std::vector<ExportedTable> &tables,
                    const std::string &type);

#endif
