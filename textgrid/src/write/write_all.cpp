#include "write/write_all.hpp"

#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace textgrid {

namespace {

// One write call may not take more than this on Linux anyway.
constexpr std::size_t kMaxWrite = 0x7ffff000;

}  // namespace

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

int OutputFile::close() {
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0 ? 0 : errno;
}

int write_all(int fd, std::span<const std::string_view> pieces, bool waits,
              const ShouldStop& should_stop) {
  std::vector<iovec> rest;
  rest.reserve(pieces.size());
  for (const std::string_view piece : pieces) {
    if (!piece.empty()) rest.push_back({const_cast<char*>(piece.data()), piece.size()});
  }
  std::size_t next = 0;
  while (next < rest.size()) {
    if (waits) {
      if (const int error = wait_ready(fd, POLLOUT, should_stop); error != 0) return error;
    }
    // One call takes at most IOV_MAX pieces and kMaxWrite bytes.
    std::size_t count = 0;
    std::size_t bytes = 0;
    while (next + count < rest.size() && count < IOV_MAX && bytes < kMaxWrite) {
      bytes += rest[next + count].iov_len;
      ++count;
    }
    iovec& last = rest[next + count - 1];
    const std::size_t last_size = last.iov_len;
    if (bytes > kMaxWrite) last.iov_len -= std::min(last.iov_len, bytes - kMaxWrite);
    const ssize_t written = ::writev(fd, &rest[next], static_cast<int>(count));
    last.iov_len = last_size;
    if (written < 0) {
      if (errno == EAGAIN && waits) continue;
      if (errno == EINTR) {
        if (stop_asked(should_stop)) return EINTR;
        continue;
      }
      return errno;
    }
    if (written == 0) return -1;  // no progress: WriteZero
    auto done = static_cast<std::size_t>(written);
    while (done > 0 && done >= rest[next].iov_len) done -= rest[next++].iov_len;
    if (done > 0) {
      rest[next].iov_base = static_cast<char*>(rest[next].iov_base) + done;
      rest[next].iov_len -= done;
    }
  }
  return 0;
}

Status status_of(int error) {
  if (error == 0) return {};
  if (error < 0) return fail(ErrorKind::WriteZero, "failed to write whole buffer");
  return std::unexpected(os_error(error));
}

}  // namespace textgrid
