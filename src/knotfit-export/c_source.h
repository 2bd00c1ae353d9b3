// A C99 header holding tables: per table its knot count, its five columns
// and a static inline evaluation with the tables' rule, needing nothing but
// <stdint.h>.
#ifndef KNOTFIT_EXPORT_C_SOURCE_H
#define KNOTFIT_EXPORT_C_SOURCE_H

#include "fixed_point.h"

#include <knotfit/table.hpp>

#include <optional>
#include <string>
#include <vector>

struct ExportedTable {
  std::string path, name, symbol; // symbol: the prefix of its C names
  knotfit::Table table;
  std::optional<FixedTable> fixed; // for the types i32 and i16
};

// type: float, double (the fields as they are, evaluated as knotfit/table.h
// does) or i32, i16 (each table's fixed form).
std::string CHeader(const std::vector<ExportedTable> &tables,
                    const std::string &type);

#endif
