// The limit's read, shared by limit_baseline and bench_stages: the whole file
// from the page cache into a buffer, with plain read(2) calls.
#ifndef PLINTH_BENCH_READ_WHOLE_HPP
#define PLINTH_BENCH_READ_WHOLE_HPP

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Reads the whole file into buffer (grown as needed) and returns its size;
// nothing, with errno set, when the file cannot be read.
inline std::optional<std::size_t> read_whole(const std::string& path, std::vector<char>& buffer) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  const auto fail = [fd](int error) {
    ::close(fd);
    errno = error;
    return std::optional<std::size_t>();
  };
  struct stat info {};
  if (::fstat(fd, &info) != 0) return fail(errno);
  const auto size = static_cast<std::size_t>(info.st_size);
  if (buffer.size() < size) buffer.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, buffer.data() + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(errno);
    if (got == 0) return fail(EIO);  // the file shrank under us
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return size;
}

#endif  // PLINTH_BENCH_READ_WHOLE_HPP
