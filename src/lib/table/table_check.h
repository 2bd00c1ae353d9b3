// What storing a fit in a table's form does to its curve. The table's
// readers evaluate its stored fields, not the fit's doubles: the classic
// form rounds every field to binary32, the offset form x - x0, y - y0, a, b
// and c, the double form nothing. The check says whether that table can be
// written and read at all, whether a field loses its precision to a
// subnormal, and how far the curve the readers compute is from the fit.
#ifndef KNOTFIT_LIB_TABLE_CHECK_H
#define KNOTFIT_LIB_TABLE_CHECK_H

#include "knotfit/table.hpp"
#include "table_encoding.h"

namespace knotfit {

// The check of a fit held as fields (b and c in double: never the compact
// pairs) in the form. With quick, it stops as soon as the table is
// flagged: error is then only as large as that took.
TableCheck CheckTable(const TableFields &fit, TableForm form,
                      bool quick = false);

// The first form after the one given whose table of the fit is not
// flagged, in the order classic, offset, double (each keeps more of the fit
// than the one before); after itself when none is.
TableForm FormAfter(const TableFields &fit, TableForm after);

// The least form whose table of the fit is not flagged: classic, else
// offset, else double.
TableForm LeastTableForm(const TableFields &fit);

} // namespace knotfit

#endif
