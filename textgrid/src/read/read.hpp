// The entry points of the core: reading one file by layout word, and reading
// many files into the structured or the vector form.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "base/interrupt.hpp"
#include "model/converter.hpp"
#include "model/textgrid.hpp"
#include "model/textgrid_view.hpp"
#include "parallel/ordered_stream.hpp"

namespace textgrid {

// Reads `path` with the long reader ("long"), the short reader ("short") or
// ("auto") the reader that the file calls for: the binary one for a file that
// begins with "ooBinaryFile", the chronological one for a text whose first
// line is Praat's chronological header, else the long one when a line begins
// with the tier-list marker "item []" and the short one otherwise. Any other
// word fails with "Unknown file type: <word>" and opens nothing.
// Keeps no state; safe on worker threads. A file that waits for data asks
// `should_stop` (see read_text_file).
Result<TextGrid> read_from_file(const std::string& path, bool strict, std::string_view file_type,
                                const ShouldStop& should_stop = {});

// read_from_file's read as the readers make it: a view whose names and labels
// point into the file's text, which the view owns (textgrid_view.hpp). The
// read path for callers that build their own values from the labels: no
// allocation per item in the long and short layouts; the binary and the
// chronological readers' TextGrid comes as its view_of. Same failures as
// read_from_file; safe on worker threads.
Result<TextGridView> read_view_from_file(const std::string& path, bool strict,
                                         std::string_view file_type,
                                         const ShouldStop& should_stop = {});

// Reads every path, on the pool from the parallel threshold on; a file that
// fails yields a TextGrid of (0, 0, no tiers). Results in input order.
// `should_stop` as for files_to_data.
std::vector<TextGrid> read_textgrids(const std::vector<std::string>& files, bool strict,
                                     std::string_view file_type,
                                     const ShouldStop& should_stop = {});

// read_textgrids with each file's view (read_view_from_file) instead of an
// owning TextGrid: a file that fails yields an empty view, without a text.
std::vector<TextGridView> read_textgrid_views(const std::vector<std::string>& files, bool strict,
                                              std::string_view file_type,
                                              const ShouldStop& should_stop = {});

// Hands each file's view (as read_textgrid_views makes it: an empty view for
// a file that fails, or that comes after a stop) to `consume(i, view)` on the
// calling thread, in input order, each exactly once, while the pool reads the
// files after it (produce_in_order: the caller holds `caller_lock` only while
// it consumes). A view's text is dropped when its consume returns. `consume`
// returning false ends the call early; an exception it throws is rethrown
// once the workers are done. `should_stop` is asked on the calling thread
// only, with the lock held: while a file that the caller reads waits for
// data, or while the caller waits for a file; once it says stop, the files
// not yet read are handed over empty.
using ConsumeView = std::function<bool(std::size_t, TextGridView&&)>;
void read_views_in_order(const std::vector<std::string>& files, bool strict,
                         std::string_view file_type, const ShouldStop& should_stop,
                         const CallerLock& caller_lock, const ConsumeView& consume);

// Reads and converts every path, on the pool from the parallel threshold on;
// a file that fails yields (0, 0, no tiers). Results in input order.
// `should_stop` is asked on the calling thread only, while a file waits for
// data or while the caller waits for the pool; once it says stop, the files
// not yet read are skipped (their results empty) and the call returns.
std::vector<TextGridData> files_to_data(const std::vector<std::string>& files, bool strict,
                                        std::string_view file_type,
                                        const ShouldStop& should_stop = {});

// As files_to_data; a file that fails yields empty columns.
std::vector<TextGridVectors> files_to_vectors(const std::vector<std::string>& files, bool strict,
                                              std::string_view file_type,
                                              const ShouldStop& should_stop = {});

}  // namespace textgrid
