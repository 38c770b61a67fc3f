// The memory that the process may use: the bound of a read whose size the
// file does not give (a device, a file that never ends) and the test of one
// too large to be held at all.
#pragma once

#include <cstdint>

namespace textgrid {

// Returns the least of the process's control-group memory limit (cgroup v2
// memory.max of its group and the groups above it, or cgroup v1
// memory.limit_in_bytes), its RLIMIT_AS and the machine's physical memory, in
// bytes. Read once per process, at the first call. Safe on any thread.
std::uint64_t memory_limit();

}  // namespace textgrid
