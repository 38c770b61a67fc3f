// The module's side of reading: the options of a call made from its
// arguments (the layout word parsed here, once), and the batch read that
// hands each file to the builders in order while the pool reads the files
// ahead, with the interpreter lock let go whenever this thread reads a file
// itself or waits for one, so that other threads run meanwhile.
#pragma once

#include "ref.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arrow/arrow_table.hpp"
#include "base/read_options.hpp"
#include "model/textgrid_view.hpp"

namespace plinth {

// The options of a read of `file`, with the module's stop hook; nothing, with
// OSError "Failed to read TextGrid file <file> because: Unknown file type:
// <word>" set, for a layout word other than "auto", "long" and "short".
std::optional<textgrid::ReadOptions> file_options(std::string_view file, bool strict,
                                                  std::string_view file_type);

// As file_options for a batch: an unknown layout word is no file's fault, so
// it fails the call, before any file is opened, with OSError "Unknown file
// type: <word>".
std::optional<textgrid::ReadOptions> batch_options(bool strict, std::string_view file_type);

// Builds one file's objects from its view (an empty view for a file that
// failed); false with an exception set.
using BuildFile = std::function<bool(std::size_t, const textgrid::TextGridView&)>;

// Calls `build` for every file, in order, with the lock held; each view's
// text is dropped as soon as its build returns. Returns false with an
// exception set when a build failed or a signal handler raised (the files
// after it are then not built).
bool build_in_order(const std::vector<std::string>& files, const textgrid::ReadOptions& options,
                    const BuildFile& build);

// textgrid::read_table with the interpreter lock let go for the whole read:
// it is taken again only to ask the stop hook (every kStopSliceMs at most).
// A signal handler's exception is left set.
textgrid::ArrowTable read_table_unlocked(const std::vector<std::string>& files,
                                         textgrid::ReadOptions options);

}  // namespace plinth
