// One owned Arrow buffer: the storage of every column plinth exports.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace textgrid {

// One owned Arrow buffer, 64-byte aligned as Arrow recommends. Its data
// pointer is never null: an empty buffer points at a shared zeroed block, as
// some consumers refuse null buffers even of length 0.
class ArrowBuffer {
 public:
  ArrowBuffer() = default;

  // Returns `bytes` uninitialised bytes; throws std::bad_alloc. Allocates.
  static ArrowBuffer allocate(std::size_t bytes);

  // Makes the buffer `bytes` long, its first `keep` bytes kept and the rest
  // uninitialised; throws std::bad_alloc. Allocates.
  void reallocate(std::size_t bytes, std::size_t keep);

  // Shortens the buffer to its first `bytes` (at most its size) in place.
  void truncate(std::size_t bytes) noexcept { size_ = bytes; }

  const std::byte* data() const noexcept;
  std::size_t size() const noexcept { return size_; }
  template <class T>
  T* as() noexcept {
    return reinterpret_cast<T*>(owned_.get());
  }
  template <class T>
  const T* as() const noexcept {
    return reinterpret_cast<const T*>(data());
  }

 private:
  struct Free {
    void operator()(std::byte* block) const noexcept { std::free(block); }
  };
  std::unique_ptr<std::byte, Free> owned_;
  std::size_t size_ = 0;
};

}  // namespace textgrid
