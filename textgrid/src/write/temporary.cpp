#include "write/temporary.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <unordered_map>

namespace textgrid {

namespace {

constexpr std::string_view kMark = ".plinth-";
constexpr std::string_view kEnd = ".tmp";
constexpr std::size_t kRandomDigits = 8;

// Where the target's folder ends: the folder (with its '/') and the name.
std::pair<std::string, std::string> split(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  if (slash == std::string::npos) return {"", target};
  return {target.substr(0, slash + 1), target.substr(slash + 1)};
}

// What every temporary of `name` starts with. Cut so that a temporary's name
// fits any file system's limit of 255 bytes whatever the target's.
std::string prefix_of(const std::string& name) {
  std::string prefix(1, '.');
  prefix.append(name, 0, 200).append(kMark);
  return prefix;
}

// The writer that `rest` (a temporary's name after its prefix) names:
// "PID-XXXXXXXX.tmp" gives PID; anything else 0.
pid_t writer_of(std::string_view rest) {
  const std::size_t dash = rest.find('-');
  if (dash == 0 || dash > 9 || rest.size() != dash + 1 + kRandomDigits + kEnd.size() ||
      !rest.ends_with(kEnd)) {
    return 0;
  }
  pid_t pid = 0;
  for (const char c : rest.substr(0, dash)) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

bool process_gone(pid_t pid) {
  return pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Removes the temporary `name` in the folder open at `folder` when no process
// holds its lock (a writer in another PID namespace, whose PID means nothing
// here, still holds it).
void remove_if_unlocked(int folder, const char* name) {
  const int fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    ::unlinkat(folder, name, 0);
  }
  ::close(fd);
}

// Per folder, the saves into it since it was last looked through and the
// entries it had then.
class Looks {
 public:
  bool due(const std::string& folder) {
    const std::lock_guard hold(lock_);
    // A process that saves into very many folders forgets them now and then.
    if (folders_.size() > 4096) folders_.clear();
    auto [entry, fresh] = folders_.try_emplace(folder);
    if (fresh || ++entry->second.saves >= entry->second.entries) {
      entry->second.saves = 0;
      return true;
    }
    return false;
  }

  void looked(const std::string& folder, std::size_t entries) {
    const std::lock_guard hold(lock_);
    folders_[folder].entries = std::max<std::size_t>(entries, 16);
  }

 private:
  struct Count {
    std::size_t saves = 0;
    std::size_t entries = 0;
  };
  std::mutex lock_;
  std::unordered_map<std::string, Count> folders_;
};

Looks& looks() {
  static Looks* const shared = new Looks;  // never destroyed: saves may run at exit
  return *shared;
}

#ifdef __linux__
// Copies every extended attribute of `source` that the file system takes.
void copy_extended_attributes(const std::string& source, int fd) {
  ssize_t size = ::listxattr(source.c_str(), nullptr, 0);
  if (size <= 0) return;
  std::string names(static_cast<std::size_t>(size), '\0');
  size = ::listxattr(source.c_str(), names.data(), names.size());
  if (size <= 0) return;
  names.resize(static_cast<std::size_t>(size));
  std::string value;
  for (std::size_t at = 0; at < names.size();) {
    const std::size_t end = names.find('\0', at);
    const std::string name = names.substr(at, end - at);
    at = end == std::string::npos ? names.size() : end + 1;
    ssize_t length = ::getxattr(source.c_str(), name.c_str(), nullptr, 0);
    if (length < 0) continue;
    value.resize(static_cast<std::size_t>(length));
    length = ::getxattr(source.c_str(), name.c_str(), value.data(), value.size());
    if (length < 0) continue;
    // Refused (a name this user may not set, a file system without it): the
    // replacement goes without it.
    (void)::fsetxattr(fd, name.c_str(), value.data(), static_cast<std::size_t>(length), 0);
  }
}
#endif

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

}  // namespace

int create_temporary(const std::string& target, std::string& name) {
  const auto [folder, base] = split(target);
  std::string start = folder;
  start.append(prefix_of(base)).append(std::to_string(::getpid())).append(1, '-');
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix(kRandomDigits, '0');
    for (char& c : suffix) c = kDigits[next_random() % 36];
    name = start;
    name.append(suffix).append(kEnd);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      (void)::flock(fd, LOCK_EX | LOCK_NB);  // no lock where the file system has none
      return fd;
    }
    if (errno != EEXIST) return fd;
  }
  return -1;  // errno is EEXIST
}

void remove_dead_temporaries(const std::string& target) {
  const auto [folder, base] = split(target);
  if (!looks().due(folder)) return;
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* const stream = ::fdopendir(fd);
  if (stream == nullptr) {
    ::close(fd);
    return;
  }
  const std::string prefix = prefix_of(base);
  std::size_t entries = 0;
  while (const dirent* entry = ::readdir(stream)) {
    ++entries;
    const std::string_view entry_name = entry->d_name;
    if (!entry_name.starts_with(prefix)) continue;
    const pid_t pid = writer_of(entry_name.substr(prefix.size()));
    if (pid > 0 && process_gone(pid)) remove_if_unlocked(fd, entry->d_name);
  }
  ::closedir(stream);
  looks().looked(folder, entries);
}

int keep_attributes(const std::string& old_path, const struct stat& old, int fd) {
  if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
      (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
  }
  // After the owner, which may clear the set-user-ID bits.
  if (::fchmod(fd, old.st_mode & 07777) != 0) return errno;
#ifdef __linux__
  copy_extended_attributes(old_path, fd);
#else
  (void)old_path;
#endif
  return 0;
}

}  // namespace textgrid
