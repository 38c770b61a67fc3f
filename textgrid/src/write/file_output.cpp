#include "write/file_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include <cerrno>
#include <optional>

#include "write/in_place.hpp"
#include "write/temporary.hpp"
#include "write/write_all.hpp"

namespace textgrid {

namespace {

// The link chain that Linux follows before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

// Whether the link at `link` is one of /proc's (/proc/self/fd/N, and so
// /dev/stdout): it leads to an open file whatever its text says, a pipe, a
// deleted file, a file of another mount namespace.
bool in_proc(const std::string& link) {
#ifdef __linux__
  const std::size_t slash = link.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : link.substr(0, slash + 1);
  struct statfs info {};
  return ::statfs(folder.c_str(), &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
#else
  (void)link;
  return false;
#endif
}

// The text of the symbolic link `link`, whatever its length (the size that
// lstat gives is not its length for every file system); nothing when it
// cannot be read.
std::optional<std::string> read_link(const std::string& link, off_t size) {
  std::string text(static_cast<std::size_t>(size > 255 ? size : 255) + 1, '\0');
  for (;;) {
    const ssize_t got = ::readlink(link.c_str(), text.data(), text.size());
    if (got < 0) return std::nullopt;
    if (static_cast<std::size_t>(got) < text.size()) {
      text.resize(static_cast<std::size_t>(got));
      return text;
    }
    text.resize(text.size() * 2);
  }
}

// The file that `path` finally names: symbolic links followed (relative ones
// against their own folder) up to the system's limit; the file need not
// exist. Nothing when the names of the links do not lead to the file that
// open() reaches (a link of /proc), or when the chain cannot be followed:
// open() then finds the file, or reports why not.
std::optional<std::string> resolve_links(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      if (hop == 0) return current;
      // The name the chain ends in must be the very file the path opens.
      struct stat opened {};
      if (::stat(path.c_str(), &opened) == 0 &&
          (::stat(current.c_str(), &info) != 0 || info.st_dev != opened.st_dev ||
           info.st_ino != opened.st_ino)) {
        return std::nullopt;
      }
      return current;
    }
    if (in_proc(current)) return std::nullopt;
    std::optional<std::string> target = read_link(current, info.st_size);
    if (!target) return std::nullopt;
    if (target->starts_with('/')) {
      current = std::move(*target);
    } else {
      const std::size_t slash = current.rfind('/');
      current = slash == std::string::npos ? *target : current.substr(0, slash + 1) + *target;
    }
  }
  return std::nullopt;
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
  const std::optional<std::string> target = resolve_links(path);
  // A path that names no file in a folder ("", "dir/") gets open()'s own
  // answer; a link of /proc leads to a file that is written where it is.
  if (!target || target->empty() || target->ends_with('/')) {
    return write_in_place(path, text, should_stop);
  }
  struct stat existing {};
  std::optional<struct stat> old;
  if (::stat(target->c_str(), &existing) == 0) {
    old = existing;
  } else if (errno != ENOENT) {
    return write_in_place(path, text, should_stop);
  }
  // A FIFO, a device, a terminal, a socket: never renamed over.
  if (old && !S_ISREG(old->st_mode)) return write_in_place(path, text, should_stop);
  // A file that the caller may not write stays refused, even where its
  // folder would let a rename replace it.
  if (old && ::faccessat(AT_FDCWD, target->c_str(), W_OK, AT_EACCESS) != 0) {
    return write_in_place(path, text, should_stop);
  }

  remove_dead_temporaries(*target);
  std::string temporary;
  const int raw = create_temporary(*target, temporary);
  if (raw < 0) {
    const int error = errno;
    if (may_write_in_place_instead(error)) return write_in_place(path, text, should_stop);
    return std::unexpected(os_error(error));
  }
  OutputFile file(raw);
  // Whatever goes wrong from here, the target stays as it was.
  const auto discard = [&](int error) -> Status {
    ::unlink(temporary.c_str());
    return status_of(error);
  };
  if (old) {
    if (const int error = keep_attributes(*target, *old, file.get()); error != 0) {
      return discard(error);
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
  if (::rename(temporary.c_str(), target->c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    // A sticky folder may refuse the rename where the file itself may be
    // written; a file mounted onto its name (a container's bind mount)
    // cannot be replaced, only written.
    if (error == EACCES || error == EPERM || error == EBUSY) {
      return write_in_place(path, text, should_stop);
    }
    return std::unexpected(os_error(error));
  }
  return {};
}

}  // namespace textgrid
