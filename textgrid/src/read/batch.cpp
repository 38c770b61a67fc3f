#include <atomic>
#include <span>
#include <thread>
#include <type_traits>
#include <utility>

#include "parallel/parallel_map.hpp"
#include "parallel/thread_pool.hpp"
#include "read/read.hpp"

namespace textgrid {

namespace {

// One file read into the model M: the owning TextGrid or the view of the
// file's text.
template <class M>
Result<M> read_model(const std::string& path, bool strict, std::string_view file_type,
                     const ShouldStop& should_stop) {
  const detail::OneThreadReads one_thread;  // the other files keep the pool busy
  if constexpr (std::is_same_v<M, TextGridView>) {
    return read_view_from_file(path, strict, file_type, should_stop);
  } else {
    return read_from_file(path, strict, file_type, should_stop);
  }
}

// Runs `convert` on every file read into M, on the pool from the parallel
// threshold on; a file that fails, or that comes after a stop, gives the
// default result.
template <class R, class M = TextGrid, class Convert>
std::vector<R> read_files(const std::vector<std::string>& files, bool strict,
                          std::string_view file_type, const ShouldStop& should_stop,
                          Convert convert) {
  if (!should_stop) {
    return parallel_map(std::span<const std::string>(files), [&](const std::string& path) {
      Result<M> textgrid = read_model<M>(path, strict, file_type, {});
      return textgrid ? convert(*textgrid) : R{};
    });
  }
  StopRelay relay(should_stop);
  const ShouldStop relayed = [&relay] { return relay.should_stop(); };
  return parallel_map(
      std::span<const std::string>(files),
      [&](const std::string& path) {
        if (relay.stopped()) return R{};
        Result<M> textgrid = read_model<M>(path, strict, file_type, relayed);
        return textgrid ? convert(*textgrid) : R{};
      },
      [&relay] { relay.poll(); });
}

}  // namespace

// A file that fails to read gives the default-constructed result: (0, 0, no
// tiers) or empty columns. The error itself is dropped by design. Each file
// is converted whole on the thread that read it: the files already keep the
// pool busy, and a map nested per tier would only add hand-offs.

std::vector<TextGrid> read_textgrids(const std::vector<std::string>& files, bool strict,
                                     std::string_view file_type, const ShouldStop& should_stop) {
  return read_files<TextGrid>(files, strict, file_type, should_stop,
                              [](TextGrid& textgrid) { return std::move(textgrid); });
}

std::vector<TextGridView> read_textgrid_views(const std::vector<std::string>& files, bool strict,
                                              std::string_view file_type,
                                              const ShouldStop& should_stop) {
  return read_files<TextGridView, TextGridView>(
      files, strict, file_type, should_stop,
      [](TextGridView& textgrid) { return std::move(textgrid); });
}

void read_views_in_order(const std::vector<std::string>& files, bool strict,
                         std::string_view file_type, const ShouldStop& should_stop,
                         const CallerLock& caller_lock, const ConsumeView& consume) {
  StopRelay relay(should_stop);
  std::atomic<bool> cancel{false};
  const std::thread::id caller = std::this_thread::get_id();
  // Also set without a hook: a file in flight when the consumer gives up must
  // not keep the call waiting on a FIFO. The caller reads with its lock let
  // go, and asks the hook with it held.
  const ShouldStop relayed = [&] {
    if (cancel.load(std::memory_order_relaxed) || relay.stopped()) return true;
    if (should_stop && std::this_thread::get_id() == caller) {
      if (caller_lock.acquire) caller_lock.acquire();
      relay.poll();
      if (caller_lock.release) caller_lock.release();
    }
    return relay.stopped();
  };
  auto produce = [&](std::size_t i) {
    if (relay.stopped()) return TextGridView{};
    const detail::OneThreadReads one_thread;  // the other files keep the pool busy
    Result<TextGridView> view = read_view_from_file(files[i], strict, file_type, relayed);
    return view ? std::move(*view) : TextGridView{};
  };
  auto hand_over = [&](std::size_t i, TextGridView&& view) { return consume(i, std::move(view)); };
  std::function<void()> while_waiting;
  if (should_stop) while_waiting = [&relay] { relay.poll(); };
  produce_in_order<TextGridView>(files.size(), produce, hand_over, caller_lock, cancel,
                                 while_waiting);
}

std::vector<TextGridData> files_to_data(const std::vector<std::string>& files, bool strict,
                                        std::string_view file_type, const ShouldStop& should_stop) {
  return read_files<TextGridData>(files, strict, file_type, should_stop,
                                  [](const TextGrid& textgrid) { return textgrid.to_data(false); });
}

std::vector<TextGridVectors> files_to_vectors(const std::vector<std::string>& files, bool strict,
                                              std::string_view file_type,
                                              const ShouldStop& should_stop) {
  return read_files<TextGridVectors>(
      files, strict, file_type, should_stop,
      [](const TextGrid& textgrid) { return textgrid.to_vectors(); });
}

}  // namespace textgrid
