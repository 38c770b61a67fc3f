#include "write/in_place.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "write/write_all.hpp"

namespace textgrid {

namespace {

// A FIFO, a device, a terminal: opened without waiting, then written as the
// file takes bytes. Nothing of it can be put back.
Status write_stream(const std::string& path, std::span<const std::string_view> text, bool fifo,
                    const ShouldStop& should_stop) {
  // A FIFO's open() waits for a reader: opened without blocking, it fails
  // with ENXIO until one comes, and the caller is asked between tries.
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (fifo ? O_NONBLOCK : 0);
  int raw = -1;
  while ((raw = ::open(path.c_str(), flags, 0666)) < 0) {
    if (errno == EINTR) {
      if (stop_asked(should_stop)) return std::unexpected(os_error(EINTR));
    } else if (errno == ENXIO && fifo) {
      if (!sleep_slice(should_stop)) return std::unexpected(os_error(EINTR));
    } else {
      return std::unexpected(os_error(errno));
    }
  }
  OutputFile file(raw);
  struct stat info {};
  const bool waits = ::fstat(file.get(), &info) == 0 && !S_ISREG(info.st_mode);
  if (waits && !fifo) ::fcntl(file.get(), F_SETFL, O_NONBLOCK);
  return status_of(write_all(file.get(), text, waits, should_stop));
  // A failing close is not reported: the bytes are out.
}

std::size_t size_of(std::span<const std::string_view> text) {
  std::size_t size = 0;
  for (const std::string_view piece : text) size += piece.size();
  return size;
}

// 0 when the file open at `fd` can take `size` bytes from its start, else the
// error that writing them would meet: EFBIG past the process's file-size
// limit, ENOSPC or EDQUOT where the file system cannot reserve the blocks. A
// file system that cannot reserve blocks ahead is left to the write itself.
int check_room(int fd, std::size_t size, off_t old_size) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      size > limit.rlim_cur) {
    return EFBIG;
  }
#ifdef __linux__
  // The blocks are reserved without growing the file, so that a refusal
  // leaves its size as it was.
  if (size == 0) return 0;
  while (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    if (error != ENOSPC && error != EDQUOT && error != EFBIG && error != EIO) break;
    (void)::ftruncate(fd, old_size);  // drops what was reserved before the refusal
    return error;
  }
#else
  (void)fd;
  (void)old_size;
#endif
  return 0;
}

// Reads the `size` bytes of the file open at `fd` into `bytes`; 0, or the
// error number.
int read_previous(int fd, std::size_t size, std::string& bytes) {
  bytes.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;  // shortened meanwhile
    done += static_cast<std::size_t>(got);
  }
  bytes.resize(done);
  return 0;
}

// Writes `previous` back over the start of the file and cuts it to that size;
// 0, or what write_all returned.
int put_back(int fd, const std::string& previous) {
  if (::lseek(fd, 0, SEEK_SET) < 0) return errno;
  const std::string_view whole = previous;
  if (const int error = write_all(fd, std::span(&whole, 1), false, {}); error != 0) return error;
  return ::ftruncate(fd, static_cast<off_t>(previous.size())) == 0 ? 0 : errno;
}

// A regular file (or none yet) written over from its start and then cut to
// the text's size, its previous bytes held aside until the write is done.
Status write_file(const std::string& path, std::span<const std::string_view> text,
                  const ShouldStop& should_stop) {
  // The previous bytes need reading; a file that may be written but not read
  // is written all the same, with nothing to put back.
  int unreadable = 0;
  int raw = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (raw < 0 && errno == EACCES) {
    unreadable = EACCES;
    raw = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  }
  if (raw < 0) return std::unexpected(os_error(errno));
  OutputFile file(raw);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return std::unexpected(os_error(errno));
  if (!S_ISREG(info.st_mode)) return status_of(write_all(file.get(), text, false, should_stop));

  const std::size_t size = size_of(text);
  if (const int error = check_room(file.get(), size, info.st_size); error != 0) {
    return status_of(error);
  }
  std::string previous;
  if (unreadable == 0) {
    unreadable = read_previous(file.get(), static_cast<std::size_t>(info.st_size), previous);
  }
  int error = write_all(file.get(), text, false, should_stop);
  if (error == 0 && static_cast<std::size_t>(info.st_size) > size) {
    error = ::ftruncate(file.get(), static_cast<off_t>(size)) == 0 ? 0 : errno;
  }
  if (error == 0) return {};
  const int lost = unreadable != 0 ? unreadable : put_back(file.get(), previous);
  Status failure = status_of(error);
  if (lost != 0) {
    failure.error().message +=
        "; the file's previous bytes could not be put back: " + status_of(lost).error().message;
  }
  return failure;
}

}  // namespace

Status write_in_place(const std::string& path, std::span<const std::string_view> text,
                      const ShouldStop& should_stop) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    return write_stream(path, text, S_ISFIFO(info.st_mode), should_stop);
  }
  return write_file(path, text, should_stop);
}

}  // namespace textgrid
