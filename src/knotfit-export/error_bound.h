// How far what knotfit-export writes can be from the table it was written
// from: sampled densely, and bounded over the table's whole range from the
// arithmetic of the exported code.
#ifndef KNOTFIT_EXPORT_ERROR_BOUND_H
#define KNOTFIT_EXPORT_ERROR_BOUND_H

#include "c_source.h"

#include <string>

// The exported evaluations: "float", "double", "i32", "i16" (the C of
// --type), "cmsis" (the C of --layout=cmsis under arm_spline_f32's formula,
// each of its additions fused or not), or "exact" (the shortest texts of
// JSON and CSV, which read back as the fields themselves).
struct Difference {
  double bound = 0;   // |exported - table| is at most this on the range
  double sampled = 0; // the largest found at the samples
  double at = 0;      // the abscissa of that one
};

// What the exported form gives at x, computed as its code computes it:
// about the origin, in float and fixed point, with it added back; for
// "cmsis", with the additions of the bits of fused fused (CmsisValue's).
double ExportedValue(const ExportedTable &e, const std::string &type, double x,
                     unsigned fused = 0);

// The difference of the exported form from the table's own value (its
// fields widened to double) over [x of knot 0, x of knot n-1]; for "cmsis",
// the largest of its eight ways of fusing.
Difference LargestDifference(const ExportedTable &e, const std::string &type);

#endif
