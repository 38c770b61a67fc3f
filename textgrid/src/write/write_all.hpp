// Writing every byte of a text to an open file, the one loop that the
// replacement through a temporary and the write in place share.
#pragma once

#include <span>
#include <string_view>

#include "base/error.hpp"
#include "base/interrupt.hpp"

namespace textgrid {

// Closes the descriptor on every way out, unless it was closed on purpose.
class OutputFile {
 public:
  explicit OutputFile(int fd) : fd_(fd) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  int get() const { return fd_; }

  // Closes now; the error number of a failing close, else 0.
  int close();

 private:
  int fd_;
};

// Writes every byte of every piece, in order, in as few calls as the system
// allows; 0, -1 for a write that took no bytes, or the error number (EINTR
// when the caller stopped it). A file that may block (`waits`, opened without
// blocking) is waited on in slices.
int write_all(int fd, std::span<const std::string_view> pieces, bool waits,
              const ShouldStop& should_stop);

// The error value of what write_all returned; nothing for 0.
Status status_of(int error);

}  // namespace textgrid
