// Arrays of up to millions of elements made for one fit, every element
// written before it is read. On a virtual machine the first touch of each
// 4 KiB page of a new array costs more than the arithmetic done on it (at
// 10^6 points, a fit's dozen arrays took ten times its one pass over the
// knots), so their pages are asked for as huge pages and mapped in one call
// before they are written; and the fit's own work arrays are not
// zero-filled first.
#ifndef KNOTFIT_LIB_FRESH_ARRAYS_H
#define KNOTFIT_LIB_FRESH_ARRAYS_H

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace knotfit {

// Asks for [data, data + bytes) on huge pages and for its pages now: a hint,
// without effect where the system lacks either (or the range is small).
void MapForWriting(void *data, size_t bytes);

// An allocator that leaves new elements of trivial types unset.
template <class T> struct LeftUnset : std::allocator<T> {
  template <class U> struct rebind { using other = LeftUnset<U>; };
  LeftUnset() = default;
  template <class U> LeftUnset(const LeftUnset<U> &) noexcept {}
  template <class U> void construct(U *p) noexcept { ::new (p) U; }
  template <class U, class... A> void construct(U *p, A &&...a) {
    ::new (p) U(std::forward<A>(a)...);
  }
};

// A work array: its elements are unset until written.
template <class T> using WorkArray = std::vector<T, LeftUnset<T>>;

// v resized to n elements whose values are to be written (those of a work
// array unset, others zero), its pages mapped for writing.
template <class T, class A> void Fresh(std::vector<T, A> &v, size_t n) {
  v.clear();
  v.reserve(n);
  MapForWriting(v.data(), n * sizeof(T));
  v.resize(n);
}

} // namespace knotfit

#endif
