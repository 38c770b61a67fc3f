#include "arrow/arrow_buffer.hpp"

#include <cstring>
#include <new>

namespace textgrid {

namespace {

constexpr std::size_t kAlignment = 64;

// Zeroed and wide enough to read as one int64 offset, so an empty buffer can
// stand for the single 0 offset of an empty string column too.
alignas(kAlignment) constexpr std::byte kEmptyBlock[kAlignment] = {};

}  // namespace

ArrowBuffer ArrowBuffer::allocate(std::size_t bytes) {
  ArrowBuffer buffer;
  if (bytes == 0) return buffer;
  // aligned_alloc wants a multiple of the alignment; the padding stays unused.
  const std::size_t padded = (bytes + kAlignment - 1) / kAlignment * kAlignment;
  if (padded < bytes) throw std::bad_alloc();
  void* block = std::aligned_alloc(kAlignment, padded);
  if (block == nullptr) throw std::bad_alloc();
  buffer.owned_.reset(static_cast<std::byte*>(block));
  buffer.size_ = bytes;
  return buffer;
}

void ArrowBuffer::reallocate(std::size_t bytes, std::size_t keep) {
  ArrowBuffer bigger = allocate(bytes);
  if (keep > 0) std::memcpy(bigger.owned_.get(), owned_.get(), keep);
  *this = std::move(bigger);
}

const std::byte* ArrowBuffer::data() const noexcept {
  return owned_ ? owned_.get() : kEmptyBlock;
}

}  // namespace textgrid
