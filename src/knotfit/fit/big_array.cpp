#include "fit/big_array.h"

#include <cstdlib>
#include <cstring>
#include <new>
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

// Below this an array lives on the heap; above, in its own mapping.
constexpr size_t kMapAbove = size_t{4} << 20;
constexpr size_t kHugePage = size_t{2} << 20;

size_t RoundUp(size_t bytes, size_t to) {
  return (bytes + to - 1) / to * to;
}

} // namespace

Region::~Region() {
#ifdef __linux__
  if (mapped_) {
    munmap(data_, capacity_);
    return;
  }
#endif
  std::free(data_);
}

void Region::Reserve(size_t bytes, size_t kept) {
#ifdef __linux__
  if (bytes > kMapAbove) {
    const size_t size = RoundUp(bytes, kHugePage);
    void *grown = MAP_FAILED;
    if (mapped_) {
      // Moves the pages, not their contents.
      grown = mremap(data_, capacity_, size, MREMAP_MAYMOVE);
    } else {
      grown = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (grown != MAP_FAILED && kept > 0) {
        std::memcpy(grown, data_, kept);
      }
    }
    if (grown == MAP_FAILED) {
      throw std::bad_alloc();
    }
    madvise(grown, size, MADV_HUGEPAGE); // a hint: fine if refused
    if (!mapped_) {
      std::free(data_);
    }
    data_ = grown;
    capacity_ = size;
    mapped_ = true;
    return;
  }
#endif
  void *grown = std::realloc(data_, bytes);
  if (grown == nullptr) {
    throw std::bad_alloc();
  }
  (void)kept; // realloc keeps everything
  data_ = grown;
  capacity_ = bytes;
}
