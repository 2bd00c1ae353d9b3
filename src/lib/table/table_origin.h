// The results of a table of the offset or double form, about its origin (as
// calculus.h describes them). A unit of their own: kept apart, the classic
// path in table.cpp, which the program's report takes for every data set,
// stays inlined whole.
#ifndef KNOTFIT_LIB_TABLE_ORIGIN_H
#define KNOTFIT_LIB_TABLE_ORIGIN_H

#include "knotfit/table.hpp"

#include <vector>

namespace knotfit {

// S (order 0), S', S'' at t; the integral from lo to hi; the inverse.
double OriginAt(const Table &t, int order, double at, Extrapolation e);
double OriginIntegral(const Table &t, double lo, double hi, Extrapolation e);
std::vector<double> OriginInverse(const Table &t, double v);

} // namespace knotfit

#endif
