#include "text/text_input.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/memory.hpp"
#include "parallel/parallel_map.hpp"

namespace textgrid {

namespace {

// Closes the descriptor on every way out of the read.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A file whose reads may wait for data that never comes: a FIFO, a terminal,
// a socket. Regular files are read as before, without a poll per read.
bool may_wait(const struct stat& info) {
  return !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

// From this size on, a read is checked against the memory that the process
// may use; below it the check would cost more than any file saves.
constexpr std::size_t kCheckedBytes = std::size_t{64} << 20;

// Whether a buffer of `size` bytes cannot be held at all.
bool too_large(std::size_t size) {
  return size >= kCheckedBytes && size > memory_limit();
}

std::unexpected<Error> too_large_error(std::string size) {
  return fail(ErrorKind::OutOfMemory, "File too large to read: " + size + " bytes");
}

// Reads up to `size` bytes from `offset` on; returns how many came (fewer
// only at the end of the file or on an error, which the caller's own read
// then meets again).
std::size_t read_at(int fd, char* data, std::size_t size, std::size_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

// A large regular file's first `size` bytes, read as two halves side by
// side (copying from the page cache and faulting in the buffer take about
// as long as parsing a tenth of it). Returns how many bytes are in place
// from the start: all of them, or what one thread then reads on from; the
// descriptor's offset is left there.
std::size_t read_in_two(int fd, char* data, std::size_t size) {
  const std::size_t half = size / 2;
  std::size_t first = 0, second = 0;
  run_two([&] { first = read_at(fd, data, half, 0); },
          [&] { second = read_at(fd, data + half, size - half, half); });
  const std::size_t in_place = first < half ? first : half + second;
  return ::lseek(fd, static_cast<off_t>(in_place), SEEK_SET) < 0 ? 0 : in_place;
}

Result<std::string> read_bytes(const std::string& path, const ReadOptions& options) {
  const ShouldStop& should_stop = options.should_stop;
  if (path.find('\0') != std::string::npos) {
    return fail(ErrorKind::InvalidInput, "file name contained an unexpected NUL byte");
  }
  // Opened without blocking: a FIFO's open() would otherwise wait for a writer
  // beyond the reach of the caller's hook. Only such files keep the flag.
  int raw = -1;
  while ((raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) < 0 && errno == EINTR) {
    if (stop_asked(should_stop)) return std::unexpected(os_error(EINTR));
  }
  FileDescriptor fd(raw);
  if (fd.get() < 0) return std::unexpected(os_error(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::unexpected(os_error(errno));
  const bool waits = may_wait(info);
  if (!waits && ::fcntl(fd.get(), F_SETFL, 0) != 0) return std::unexpected(os_error(errno));

  // One buffer of the file's length plus one byte, so that the end of the
  // file shows without growing it; never zero-filled before the read. The
  // length is only a hint: a file that grows or reports no size (a pipe,
  // /proc) is read on to its end all the same.
  std::string bytes;
  std::size_t used = 0;
  int read_error = 0;
  std::size_t capacity = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 4096;
  if (too_large(capacity)) return too_large_error(std::to_string(info.st_size));
  for (;;) {
    bytes.resize_and_overwrite(capacity, [&](char* data, std::size_t size) {
      prefer_huge_pages(data + used, size - used);
      if (!waits && used == 0 && size - 1 >= kSplitBytes && options.may_split) {
        used = read_in_two(fd.get(), data, size - 1);
      }
      while (used < size) {
        // A FIFO reads as ended before its first writer comes: wait for data
        // or the end first. The wait is where the caller's hook is asked.
        if (waits && (read_error = wait_ready(fd.get(), POLLIN, should_stop)) != 0) break;
        const ssize_t got = ::read(fd.get(), data + used, size - used);
        if (got < 0) {
          if (errno == EAGAIN && waits) continue;
          if (errno == EINTR) {
            if (!stop_asked(should_stop)) continue;
            read_error = EINTR;
            break;
          }
          read_error = errno;
          break;
        }
        if (got == 0) {
          capacity = 0;  // the end of the file
          break;
        }
        used += static_cast<std::size_t>(got);
      }
      return used;
    });
    if (read_error != 0) return std::unexpected(os_error(read_error));
    if (capacity == 0) break;
    // A device without end (/dev/zero) stops when the caller asks, or at the
    // memory that the process may use.
    if (waits && stop_asked(should_stop)) return std::unexpected(os_error(EINTR));
    if (too_large(capacity * 2)) return too_large_error("more than " + std::to_string(used));
    capacity *= 2;
  }
  return bytes;
}

}  // namespace

void prefer_huge_pages(void* data, std::size_t size) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (size < 2 * kHuge) return;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const auto first = (start + kHuge - 1) & ~(kHuge - 1);
  const auto last = (start + size) & ~(kHuge - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

Result<std::string> read_file_bytes(const std::string& path, const ReadOptions& options) {
  return read_bytes(path, options);
}

Result<std::string> read_text_file(const std::string& path, const ReadOptions& options) {
  auto bytes = read_bytes(path, options);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return decode_text(std::move(*bytes), options);
}

}  // namespace textgrid
