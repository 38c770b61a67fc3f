// Writing a whole corpus back from Arrow tables: the rows of an items table
// (and, where given, the tiers and files tables that a read gives beside it)
// grouped into one TextGrid per file, each saved as save_textgrid saves.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "arrow/arrow_abi.hpp"
#include "base/error.hpp"
#include "base/interrupt.hpp"
#include "parallel/ordered_stream.hpp"

namespace textgrid {

// The three streams; tiers and files may be null. Items has the columns
// file_id, tier, is_interval, tmin, tmax and label (and, where a read gave
// it, tier_id: with tiers, the tier a row belongs to among tiers of one
// name); tiers file_id, tier_id,
// name, is_interval, tmin and tmax; files file_id, tmin and tmax. Other
// columns are passed over.
struct CorpusStreams {
  ArrowArrayStream* items = nullptr;
  ArrowArrayStream* tiers = nullptr;
  ArrowArrayStream* files = nullptr;
};

struct CorpusOptions {
  bool long_layout = true;
  bool fill_gaps = true;  // interval tiers contiguous over their bounds, as Praat edits them
};

// A file that was not written: its rows did not make a valid TextGrid
// (`created` false), or saving it failed.
struct CorpusFailure {
  std::size_t file_id = 0;
  bool created = false;
  Error error;
};

// Takes over the streams (each released on every way out) and reads them on
// the calling thread; then builds and saves every file named by a row on the
// pool, at paths[file_id]. Tiers come in tier_id order from the tiers table,
// then in order of first appearance in the items; items keep their order
// within a tier, sorted stably by start. A bound that no table gives is
// completed as vectors2textgrid completes it. Fails (InvalidInput), before
// any file is written, for a table that does not fit (the message names the
// table and column); else returns the failures in file_id order. `should_stop`
// as for read_table, asked on the calling thread only, holding `caller_lock`
// (let go of while the caller builds and saves a file or waits for the pool):
// once it says stop, the files not yet saved fail with os_error(EINTR).
Result<std::vector<CorpusFailure>> write_corpus(const CorpusStreams& streams,
                                                const std::vector<std::string>& paths,
                                                const CorpusOptions& options,
                                                const ShouldStop& should_stop = {},
                                                const CallerLock& caller_lock = {});

}  // namespace textgrid
