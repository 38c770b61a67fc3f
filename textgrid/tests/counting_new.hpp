// Replaces the global operator new and delete of the one test binary that
// includes this header: every allocation goes through `count_allocation`,
// which that test defines, then to plain malloc. Every form the library may
// pair goes to malloc and free, since sanitizers replace them all and none
// may be left to theirs. Include it in one file of a binary only.
#ifndef TEXTGRID_TESTS_COUNTING_NEW_HPP
#define TEXTGRID_TESTS_COUNTING_NEW_HPP

#include <cstddef>
#include <cstdlib>
#include <new>

// Called with the size of every allocation, from any thread.
void count_allocation(std::size_t size) noexcept;

// GCC cannot see that these pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace counting_new_detail {
inline void* counted_malloc(std::size_t size) noexcept {
  count_allocation(size);
  return std::malloc(size == 0 ? 1 : size);
}
inline void* counted_new(std::size_t size) {
  if (void* p = counted_malloc(size)) return p;
  throw std::bad_alloc();
}
}  // namespace counting_new_detail

void* operator new(std::size_t size) {
  return counting_new_detail::counted_new(size);
}
void* operator new[](std::size_t size) {
  return counting_new_detail::counted_new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return counting_new_detail::counted_malloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return counting_new_detail::counted_malloc(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

#endif  // TEXTGRID_TESTS_COUNTING_NEW_HPP
