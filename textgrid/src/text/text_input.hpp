// File input: the whole-file read, and its bytes made UTF-8 text (the
// decoding itself is text/decode).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/interrupt.hpp"
#include "base/read_options.hpp"
#include "text/decode.hpp"

namespace textgrid {

// Returns the whole file as UTF-8: UTF-8 as it stands (a UTF-8 byte-order mark
// is kept), UTF-16 with a byte-order mark decoded. Fails with the OS error
// ("... (os error N)"), "stream did not contain valid UTF-8" or "stream did
// not contain valid UTF-16" (InvalidData). One buffer sized from the file's
// length; safe on worker threads. A file that may wait for data (a FIFO, a
// device) is opened and read in slices, and `options.should_stop` is asked
// between them: the read then fails with "Interrupted system call (os error
// 4)". With `options.may_split`, a large regular file is read and checked in
// two stretches side by side on the pool.
Result<std::string> read_text_file(const std::string& path, const ReadOptions& options = {});

// Returns the whole file as stored, before any decoding. Fails with the OS
// error ("... (os error N)"). One buffer sized from the file's length; safe on
// worker threads; `options` as for read_text_file.
Result<std::string> read_file_bytes(const std::string& path, const ReadOptions& options = {});

// Asks the kernel for huge pages under a large buffer not yet touched: filling
// it then faults in a few 2 MiB pages instead of thousands of small ones,
// which in a virtual machine costs more than the filling itself. Only a hint;
// does nothing for buffers under 4 MiB or where the kernel declines.
void prefer_huge_pages(void* data, std::size_t size);

}  // namespace textgrid
