// Many files into Python objects, file by file in input order, while the
// pool reads the files ahead: this thread builds one file's objects as the
// workers read the next ones, so the building no longer waits for the last
// file to be read. The interpreter lock is let go whenever this thread reads
// a file itself or waits for one, so other threads run meanwhile.
#pragma once

#include "ref.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/textgrid_view.hpp"

namespace plinth {

// Builds one file's objects from its view (an empty view for a file that
// failed); false with an exception set.
using BuildFile = std::function<bool(std::size_t, const textgrid::TextGridView&)>;

// Calls `build` for every file, in order, with the lock held; each view's
// text is dropped as soon as its build returns. Returns false with an
// exception set when a build failed or a signal handler raised while a file
// waited (the files after it are then not built). The caller pauses the
// collector around the call.
bool build_in_order(const std::vector<std::string>& files, bool strict, std::string_view file_type,
                    const BuildFile& build);

}  // namespace plinth
