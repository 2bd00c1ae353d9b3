// Scratch arrays of doubles for a fit.
#ifndef KNOTFIT_LIB_WORK_ARRAY_H
#define KNOTFIT_LIB_WORK_ARRAY_H

#include <cstddef>
#include <cstdint>
#include <memory>

// n doubles, every entry written before it is read: left uninitialised where
// the standard library can, as zero-filling tens of megabytes for a long
// data set costs a pass of its own. Where it cannot (libc++ before 16), the
// zeros cost that pass and change no value.
using WorkArray = std::unique_ptr<double[]>;
inline WorkArray NewWorkArray(int32_t n) {
#if defined(__cpp_lib_smart_ptr_for_overwrite)
  return std::make_unique_for_overwrite<double[]>(static_cast<size_t>(n));
#else
  return std::make_unique<double[]>(static_cast<size_t>(n));
#endif
}

#endif
