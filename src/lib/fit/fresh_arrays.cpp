#include "fresh_arrays.h"

#include <cstdint>
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace knotfit {

void MapForWriting(void *data, size_t bytes) {
#ifdef __linux__
  // Whole pages inside the range only: the pages at its ends may hold
  // other data, which the calls leave alone anyway.
  constexpr uintptr_t kPage = 4096;
  constexpr size_t kWorthIt = size_t{1} << 21; // one huge page
  const auto start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t first = (start + kPage - 1) & ~(kPage - 1);
  const uintptr_t end = (start + bytes) & ~(kPage - 1);
  if (data == nullptr || bytes < kWorthIt || end <= first) {
    return;
  }
  void *const from = reinterpret_cast<void *>(first);
  madvise(from, end - first, MADV_HUGEPAGE); // hints: fine if refused
#ifdef MADV_POPULATE_WRITE
  madvise(from, end - first, MADV_POPULATE_WRITE);
#endif
#else
  (void)data;
  (void)bytes;
#endif
}

} // namespace knotfit
