#include "write/file_output.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <optional>
#include <vector>

namespace textgrid {

namespace {

// One write call may not take more than this on Linux anyway.
constexpr std::size_t kMaxWrite = 0x7ffff000;

// The link chain that Linux follows before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

// Closes the descriptor on every way out, unless it was closed on purpose.
class OutputFile {
 public:
  explicit OutputFile(int fd) : fd_(fd) {}
  ~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  int get() const { return fd_; }

  // Closes now; the error number of a failing close, else 0.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// Writes every byte of every piece, in order, as few calls as the system
// allows; 0, or the error number (EINTR when the caller stopped it). A file
// that may block (`waits`, opened without blocking) is waited on in slices.
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

// The file that `path` finally names: symbolic links followed (relative ones
// against their own directory) up to the system's limit. The file need not
// exist. Anything unusual on the way is left for open() to report.
std::string resolve_links(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
    const ssize_t size = ::readlink(current.c_str(), target.data(), target.size());
    if (size < 0 || static_cast<std::size_t>(size) >= target.size()) return path;
    target.resize(static_cast<std::size_t>(size));
    if (target.starts_with('/')) {
      current = std::move(target);
    } else {
      const std::size_t slash = current.rfind('/');
      current = slash == std::string::npos ? target : current.substr(0, slash + 1) + target;
    }
  }
  return path;
}

// Writes in place, as a plain open-truncate-write does: for targets that are
// not regular files and where no temporary may be made.
Status write_in_place(const std::string& path, std::span<const std::string_view> text, bool fifo,
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

// Numbers for the names of temporary files: splitmix64 from a seed of the
// kernel's (or the clock's, if that fails). Not std::random_device nor the
// standard engines: their library code would tie a wheel to a newer C library.
std::uint64_t next_random() {
  thread_local std::uint64_t state = [] {
    std::uint64_t seed = 0;
    if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed)) {
      seed =
          static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    return seed;
  }();
  std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

// Creates a new temporary file beside `target`, named after it. Returns its
// descriptor and sets `name`, or -1 with errno set.
int create_temporary(const std::string& target, std::string& name) {
  const std::size_t slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  // Short enough for any file system's name limit whatever the target's.
  const std::string base = target.substr(slash == std::string::npos ? 0 : slash + 1, 200);
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix(8, '0');
    for (char& c : suffix) c = kDigits[next_random() % 36];
    name = directory + "." + base + "." + suffix + ".tmp";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;  // errno is EEXIST
}

// Errors of making the temporary that mean "not here", after which writing in
// place does what it always did (and reports the same error where it fails).
bool may_write_in_place_instead(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL: return true;
    default: return false;  // ENOSPC, EDQUOT, EMFILE...: the target stays as it is
  }
}

}  // namespace

Status store_file(const std::string& path, std::string_view text, const ShouldStop& should_stop) {
  return store_file(path, std::span<const std::string_view>(&text, 1), should_stop);
}

Status store_file(const std::string& path, std::span<const std::string_view> text,
                  const ShouldStop& should_stop) {
  // open() would stop at the NUL and write to another file; the same message
  // as the readers give for such a path.
  if (path.find('\0') != std::string::npos) {
    return fail(ErrorKind::InvalidInput, "file name contained an unexpected NUL byte");
  }
  const std::string target = resolve_links(path);
  // A path that names no file in a directory ("", "dir/") gets open()'s own answer.
  if (target.empty() || target.ends_with('/'))
    return write_in_place(path, text, false, should_stop);
  struct stat existing {};
  std::optional<struct stat> old;
  if (::stat(target.c_str(), &existing) == 0) {
    old = existing;
  } else if (errno != ENOENT) {
    return write_in_place(path, text, false, should_stop);
  }
  if (old && !S_ISREG(old->st_mode)) {
    return write_in_place(path, text, S_ISFIFO(old->st_mode), should_stop);
  }
  // A file that the caller may not write stays refused, even where its
  // directory would let a rename replace it.
  if (old && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return write_in_place(path, text, false, should_stop);
  }

  std::string temporary;
  const int raw = create_temporary(target, temporary);
  if (raw < 0) {
    const int error = errno;
    if (may_write_in_place_instead(error)) return write_in_place(path, text, false, should_stop);
    return std::unexpected(os_error(error));
  }
  OutputFile file(raw);
  // Whatever goes wrong from here, the target stays as it was.
  const auto discard = [&](int error) -> Status {
    ::unlink(temporary.c_str());
    return status_of(error);
  };
  if (old) {
    // The replacement keeps what the old file's mode and owner were.
    if (::fchmod(file.get(), old->st_mode & 07777) != 0) return discard(errno);
    if (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) {
      // Root may give the file back to its owner; anyone may keep its group
      // where they belong to it. Elsewhere the replacement is the writer's.
      if (::fchown(file.get(), old->st_uid, old->st_gid) != 0) {
        (void)::fchown(file.get(), static_cast<uid_t>(-1), old->st_gid);
      }
    }
  }
  if (const int error = write_all(file.get(), text, false, should_stop); error != 0) {
    return discard(error);
  }
  // No fsync: the failures to guard against (a full disk, a size limit, an
  // interrupted call) show in write() and close(), and ext4 and its peers
  // flush a file renamed over another anyway. Syncing made a write of 2,000
  // files 3.6 to 6 times slower.
  if (const int error = file.close(); error != 0) return discard(error);
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    // A sticky directory may refuse the rename where the file itself may be
    // written.
    if (error == EACCES || error == EPERM) return write_in_place(path, text, false, should_stop);
    return std::unexpected(os_error(error));
  }
  return {};
}

}  // namespace textgrid
