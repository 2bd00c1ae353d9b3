// The arrays a run's fits are made in, reused from one data set to the
// next.
#ifndef KNOTFIT_FIT_WORKSPACE_H
#define KNOTFIT_FIT_WORKSPACE_H

#include "fit/big_array.h"

#include "knotfit_internal.h"

#include <cstddef>

struct Workspace {
  BigArray<double> a, b, c;

  // a, b and c for a fit of n points. Only what the fit writes is touched:
  // a compact fit leaves c alone, a smoothing fit all three.
  knotfit::detail::FitArrays Arrays(size_t n) {
    a.ResizeForOverwrite(n);
    b.ResizeForOverwrite(n);
    c.ResizeForOverwrite(n);
    return {a.data(), b.data(), c.data()};
  }
};

#endif
