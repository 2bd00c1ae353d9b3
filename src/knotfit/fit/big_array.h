// A growable array for the points and work arrays of data sets of any size,
// reused from one data set to the next. Large arrays are mapped directly and
// asked to be backed by huge pages where the system offers them: on a
// virtual machine the first touch of every 4 KiB page of a long data set
// costs more than the arithmetic done on it. They grow by remapping, without
// copying. Without huge pages (or mremap) they still work, on the heap or in
// small pages.
#ifndef KNOTFIT_FIT_BIG_ARRAY_H
#define KNOTFIT_FIT_BIG_ARRAY_H

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

// Raw storage: never zero-filled (every element is written before it is
// read), std::bad_alloc when the memory cannot be had.
class Region {
public:
  Region() = default;
  ~Region();
  Region(const Region &) = delete;
  Region &operator=(const Region &) = delete;

  void *data() const { return data_; }
  size_t capacity() const { return capacity_; }
  // Makes room for at least bytes, keeping the first kept bytes.
  void Reserve(size_t bytes, size_t kept);

private:
  void *data_ = nullptr;
  size_t capacity_ = 0;
  bool mapped_ = false;
};

template <class T> class BigArray {
  static_assert(std::is_trivially_copyable_v<T>);

public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T *data() { return static_cast<T *>(region_.data()); }
  const T *data() const { return static_cast<const T *>(region_.data()); }
  T &operator[](size_t i) { return data()[i]; }
  const T &operator[](size_t i) const { return data()[i]; }

  void clear() { size_ = 0; } // keeps the memory for the next data set
  void push_back(T v) {
    if (size_ * sizeof(T) == region_.capacity()) {
      region_.Reserve(2 * region_.capacity() + 4096, size_ * sizeof(T));
    }
    data()[size_++] = v;
  }
  void append(const T *values, size_t count) {
    if ((size_ + count) * sizeof(T) > region_.capacity()) {
      region_.Reserve(
          std::max(2 * region_.capacity() + 4096, (size_ + count) * sizeof(T)),
          size_ * sizeof(T));
    }
    std::memcpy(data() + size_, values, count * sizeof(T));
    size_ += count;
  }
  // The first n elements kept, the rest dropped.
  void Truncate(size_t n) { size_ = std::min(size_, n); }
  // n elements whose values are to be written; the old ones are not kept.
  void ResizeForOverwrite(size_t n) {
    if (n * sizeof(T) > region_.capacity()) {
      region_.Reserve(n * sizeof(T), 0);
    }
    size_ = n;
  }

private:
  Region region_;
  size_t size_ = 0;
};

#endif
