#include "base/cpus.hpp"

#include <sched.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace textgrid::detail {

namespace {

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\n') ++i;
    if (i > start) out.push_back(text.substr(start, i - start));
  }
  return out;
}

std::optional<std::int64_t> parse_int(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::size_t> limit_of(std::int64_t quota, std::int64_t period) {
  if (quota <= 0 || period <= 0) return std::nullopt;
  const auto cpus = static_cast<std::size_t>((quota + period - 1) / period);
  if (cpus == 0) return std::nullopt;
  return cpus;
}

struct Mount {
  std::string root;         // the part of the hierarchy mounted there
  std::string mount_point;  // where it is mounted
};

// Finds the mount of the hierarchy: cgroup2 when `controller` is empty, else
// the version 1 hierarchy whose super options name `controller`.
std::optional<Mount> find_mount(std::string_view mountinfo, std::string_view controller) {
  for (std::string_view line : split(mountinfo, '\n')) {
    const auto fields = words(line);
    std::size_t dash = 0;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash < 5 || dash + 1 >= fields.size()) continue;
    const std::string_view fs_type = fields[dash + 1];
    if (controller.empty()) {
      if (fs_type != "cgroup2") continue;
    } else {
      if (fs_type != "cgroup" || dash + 3 >= fields.size()) continue;
      bool named = false;
      for (std::string_view option : split(fields[dash + 3], ','))
        named = named || option == controller;
      if (!named) continue;
    }
    return Mount{std::string(fields[3]), std::string(fields[4])};
  }
  return std::nullopt;
}

// The directory of the group `path` inside `mount`, or nothing when the group
// lies outside the mounted part of the hierarchy.
std::optional<std::string> group_dir(const std::string& root, const Mount& mount,
                                     std::string_view path) {
  std::string_view relative = path;
  if (mount.root != "/") {
    if (!relative.starts_with(mount.root)) return std::nullopt;
    relative.remove_prefix(mount.root.size());
    if (!relative.empty() && relative.front() != '/') return std::nullopt;
  }
  std::string dir = root + mount.mount_point;
  if (!relative.empty() && relative != "/") dir += relative;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// Version 2: the smallest limit of "cpu.max" from the group up to the mount.
std::optional<std::size_t> limit_v2(const std::string& root, std::string_view mountinfo,
                                    std::string_view path) {
  const auto mount = find_mount(mountinfo, "");
  if (!mount) return std::nullopt;
  const auto dir = group_dir(root, *mount, path);
  if (!dir) return std::nullopt;
  const std::string top = root + mount->mount_point;
  std::optional<std::size_t> best;
  std::string current = *dir;
  while (true) {
    if (const auto text = read_file(current + "/cpu.max")) {
      const auto fields = words(*text);
      if (fields.size() == 2 && fields[0] != "max") {
        const auto quota = parse_int(fields[0]);
        const auto period = parse_int(fields[1]);
        if (quota && period) {
          const auto limit = limit_of(*quota, *period);
          if (limit && (!best || *limit < *best)) best = limit;
        }
      }
    }
    if (current.size() <= top.size()) break;
    const std::size_t slash = current.rfind('/');
    if (slash == std::string::npos || slash < top.size()) break;
    current.resize(slash);
  }
  return best;
}

// Version 1: "cpu.cfs_quota_us" over "cpu.cfs_period_us" of the group.
std::optional<std::size_t> limit_v1(const std::string& root, std::string_view mountinfo,
                                    std::string_view path) {
  const auto mount = find_mount(mountinfo, "cpu");
  if (!mount) return std::nullopt;
  const auto dir = group_dir(root, *mount, path);
  if (!dir) return std::nullopt;
  const auto quota_text = read_file(*dir + "/cpu.cfs_quota_us");
  const auto period_text = read_file(*dir + "/cpu.cfs_period_us");
  if (!quota_text || !period_text) return std::nullopt;
  const auto quota_words = words(*quota_text);
  const auto period_words = words(*period_text);
  if (quota_words.size() != 1 || period_words.size() != 1) return std::nullopt;
  const auto quota = parse_int(quota_words[0]);
  const auto period = parse_int(period_words[0]);
  if (!quota || !period) return std::nullopt;
  return limit_of(*quota, *period);
}

}  // namespace

std::optional<std::size_t> cgroup_cpu_limit(const std::string& root) {
  const auto groups = read_file(root + "/proc/self/cgroup");
  const auto mountinfo = read_file(root + "/proc/self/mountinfo");
  if (!groups || !mountinfo) return std::nullopt;
  // Lines read "id:controllers:path"; version 2 is the line "0::path".
  std::optional<std::string_view> v2_path;
  std::optional<std::string_view> v1_path;
  for (std::string_view line : split(*groups, '\n')) {
    const std::size_t first = line.find(':');
    if (first == std::string_view::npos) continue;
    const std::size_t second = line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view id = line.substr(0, first);
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string_view path = line.substr(second + 1);
    if (id == "0" && controllers.empty()) {
      v2_path = path;
    } else {
      for (std::string_view controller : split(controllers, ','))
        if (controller == "cpu") v1_path = path;
    }
  }
  if (v2_path) {
    if (const auto limit = limit_v2(root, *mountinfo, *v2_path)) return limit;
  }
  if (v1_path) return limit_v1(root, *mountinfo, *v1_path);
  return std::nullopt;
}

std::optional<std::size_t> affinity_cpus() {
  // cpu_set_t is the mask of 1024 CPUs; on the stack, as this runs at every map.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return std::nullopt;
  const int count = CPU_COUNT(&set);
  if (count <= 0) return std::nullopt;
  return static_cast<std::size_t>(count);
}

}  // namespace textgrid::detail

namespace textgrid {

std::size_t available_cpus() {
  // The quota rarely changes and costs several file reads: once per process.
  static const std::optional<std::size_t> limit = detail::cgroup_cpu_limit("");
  const auto affinity = detail::affinity_cpus();
  if (limit) return affinity && *affinity < *limit ? *affinity : *limit;
  if (affinity) return *affinity;
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online < 2 ? 1 : static_cast<std::size_t>(online);
}

std::size_t parallel_threshold() {
  return available_cpus() * 20 / 2;
}

}  // namespace textgrid
