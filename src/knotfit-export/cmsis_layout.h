// --layout=cmsis: a table as the cubic spline instance of the CMSIS-DSP
// library, arm_spline_instance_f32 {type, x, y, n_x, coeffs}, whose coeffs
// hold three blocks of n - 1 floats each, b[0..n-2], c[0..n-2], d[0..n-2]:
// knotfit's a, b, c. Its evaluation, arm_spline_f32, is documented as
//
//   dx = xq - x[i] (in float),
//   S = ((y[i] + b[i] dx) + (c[i] dx) dx) + ((d[i] dx) dx) dx,
//
// on segment i with x[i] < xq <= x[i+1]; segment 0 also serves everything
// below x[1], segment n - 2 everything beyond x[n-1].
#ifndef KNOTFIT_EXPORT_CMSIS_LAYOUT_H
#define KNOTFIT_EXPORT_CMSIS_LAYOUT_H

#include "c_source.h"

#include <string>
#include <vector>

// What is wrong with --layout=cmsis beside --format and --type; empty if
// nothing.
std::string CmsisConflict(const std::string &format, const std::string &type);

// Throws knotfit::Error for a table the instance cannot hold: one about an
// origin, or with fewer than 2 knots.
void CheckCmsisTable(const ExportedTable &e);

// The formula above at xq on e's binary32 fields. Bit k of fused (0, 1, 2)
// fuses the k-th addition with the multiplication that feeds it, as a
// compiler contracting a * b + c may: y + b dx, + (c dx) dx, + ((d dx) dx) dx.
float CmsisValue(const ExportedTable &e, float xq, unsigned fused);

// The C source: per table its arrays and NAME_spline_init.
std::string CmsisSource(const std::vector<ExportedTable> &tables);

#endif
