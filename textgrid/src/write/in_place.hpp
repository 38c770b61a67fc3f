// Writing a text into the file that a path names, where a save cannot (or
// must not) replace the file through a temporary: FIFOs, devices and
// terminals, files reached through /proc's links to open files, folders that
// take no new file, bind-mounted files.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/interrupt.hpp"

namespace textgrid {

// Writes `text` into the file that `path` names, as open(path, "w") does: a
// missing file is created (0666 less the umask), a FIFO waits for its reader
// (asking `should_stop`), a device or terminal is written as it comes. A
// regular file keeps its previous bytes when the write fails: room for the
// text (the file-size limit, the file system's free space) is checked before
// the first byte, and should a write fail all the same, the previous bytes
// are put back; the error then says whether that failed too. Allocates a copy
// of a regular file's previous bytes.
Status write_in_place(const std::string& path, std::span<const std::string_view> text,
                      const ShouldStop& should_stop);

}  // namespace textgrid
