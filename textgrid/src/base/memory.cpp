#include "base/memory.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

namespace textgrid {

namespace {

std::optional<std::string> whole_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A limit file's number; nothing for "max", an empty or an unreadable file.
std::optional<std::uint64_t> limit_in(const std::string& path) {
  const auto text = whole_file(path);
  if (!text) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc{} || end == text->data()) return std::nullopt;
  return value;
}

// The tightest memory.max of the process's cgroup v2 group and those above it.
std::optional<std::uint64_t> cgroup_v2_limit() {
  const auto groups = whole_file("/proc/self/cgroup");
  if (!groups) return std::nullopt;
  const std::size_t at = groups->find("0::");
  if (at == std::string::npos || (at > 0 && (*groups)[at - 1] != '\n')) return std::nullopt;
  std::string group = groups->substr(at + 3, groups->find('\n', at) - at - 3);
  std::optional<std::uint64_t> least;
  for (;;) {
    if (const auto limit = limit_in("/sys/fs/cgroup" + group + "/memory.max")) {
      least = std::min(least.value_or(*limit), *limit);
    }
    if (group.empty() || group == "/") break;
    group.resize(group.rfind('/'));
  }
  return least;
}

std::uint64_t find_limit() {
  std::uint64_t limit = UINT64_MAX;
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0)
    limit = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  struct rlimit space {};
  if (::getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
    limit = std::min<std::uint64_t>(limit, space.rlim_cur);
  }
  if (const auto group = cgroup_v2_limit()) limit = std::min(limit, *group);
  if (const auto group = limit_in("/sys/fs/cgroup/memory/memory.limit_in_bytes")) {
    limit = std::min(limit, *group);
  }
  return limit;
}

}  // namespace

std::uint64_t memory_limit() {
  static const std::uint64_t limit = find_limit();
  return limit;
}

}  // namespace textgrid
