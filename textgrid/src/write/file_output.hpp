// Storing a finished text at a path so that a failed write cannot cost the
// file it replaces: the text goes to a temporary file beside the target and
// is renamed over it only once every byte is out.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/interrupt.hpp"

namespace textgrid {

// Stores `text` at `path`. A regular file (or none) is replaced whole: the
// text is written to a new temporary file in the target's directory, which is
// renamed over the target when complete; on any failure the temporary is
// removed and the target keeps its bytes. A new file gets 0666 less the
// umask, an existing one keeps its mode (and, where permitted, its owner); a
// symbolic link stays a link and the file that it names is replaced. A target
// that is not a regular file (a FIFO, a device), one that the caller may not
// write, or one whose directory does not let the temporary be made, is written
// in place (created 0666 less the umask, or truncated) or refused as before. Fails with the
// operating-system error, or with os_error(EINTR) when `should_stop` asks while the write waits.
Status store_file(const std::string& path, std::string_view text,
                  const ShouldStop& should_stop = {});

// store_file of the text that `pieces` make one after the other: a text built
// in parts (on several threads) is written without being joined first.
Status store_file(const std::string& path, std::span<const std::string_view> pieces,
                  const ShouldStop& should_stop = {});

}  // namespace textgrid
