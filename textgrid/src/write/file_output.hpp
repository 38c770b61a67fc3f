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
// text is written to a new temporary file in the target's folder, which is
// renamed over the target when complete; on any failure the temporary is
// removed and the target keeps its bytes. A new file gets 0666 less the
// umask; an existing one keeps its mode, its owner where permitted and its
// extended attributes (ACLs included). A symbolic link stays a link and the
// file at the end of its chain is replaced. Written in place instead, as
// open(path, "w") would: a target that is not a regular file (a FIFO, a
// device, a terminal), one reached through a link of /proc (/dev/stdout), one
// whose folder does not let the temporary be made and one that cannot be
// renamed over (a bind mount); a regular file written in place keeps its
// previous bytes when the write fails (see write_in_place). A file that the
// caller may not write stays refused. Temporaries that killed saves left for
// this target are removed. Fails with the operating-system error, or with
// os_error(EINTR) when `should_stop` asks while the write waits.
Status store_file(const std::string& path, std::string_view text,
                  const ShouldStop& should_stop = {});

// store_file of the text that `pieces` make one after the other: a text built
// in parts (on several threads) is written without being joined first.
Status store_file(const std::string& path, std::span<const std::string_view> pieces,
                  const ShouldStop& should_stop = {});

}  // namespace textgrid
