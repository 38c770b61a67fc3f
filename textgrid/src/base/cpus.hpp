// The number of CPUs available to the process, which sets the parallel
// threshold of the ordered map.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace textgrid {

// Returns the CPUs available to the process, at least 1: the control-group
// quota (read once per process) capped at the affinity count, else the
// affinity count, else the online count. Safe on any thread.
std::size_t available_cpus();

// Returns the list length from which parallel_map goes to the pool: ten
// elements per available CPU, computed afresh at every call.
std::size_t parallel_threshold();

namespace detail {

// Returns the control-group CPU limit (quota / period rounded up) found under
// `root` ("" for the live system; tests pass a fixture tree that holds
// proc/self/cgroup, proc/self/mountinfo and the cgroup files), or nothing when
// the quota is missing, unlimited, unreadable or rounds to 0. Not capped.
std::optional<std::size_t> cgroup_cpu_limit(const std::string& root);

// Returns the CPU count of the process's affinity mask, or nothing when the
// query fails.
std::optional<std::size_t> affinity_cpus();

}  // namespace detail
}  // namespace textgrid
