// An ArrowTable as one run of bytes and back, so that a table can travel to
// another process (a pickled plinth.Table) without an Arrow library. The bytes
// hold the batches' buffers as they are, in this machine's byte order; the
// files that failed are not part of them.
#pragma once

#include <cstddef>
#include <span>

#include "arrow/arrow_table.hpp"
#include "base/error.hpp"

namespace textgrid {

// Returns the number of bytes encode_table writes for `table`. No allocation.
std::size_t encoded_size(const ArrowTable& table) noexcept;

// Writes `table` into `out`, which holds exactly encoded_size(table) bytes.
// No allocation; any thread.
void encode_table(const ArrowTable& table, std::span<std::byte> out) noexcept;

// Returns the table that `bytes` encode, each buffer copied once into a new
// aligned one; bytes that encode_table did not write (another byte order, a
// cut, a buffer of the wrong size, offsets or codes out of their bounds) fail
// with kind InvalidData and a message naming the batch. Allocates; throws
// std::bad_alloc. Any thread.
Result<ArrowTable> decode_table(std::span<const std::byte> bytes);

}  // namespace textgrid
