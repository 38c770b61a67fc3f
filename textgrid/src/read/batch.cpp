#include "read/batch.hpp"

#include <cerrno>
#include <new>

namespace textgrid {

namespace detail {

BatchStop::BatchStop(const ShouldStop& ask, const CallerLock& caller_lock)
    : ask_(ask),
      caller_lock_(caller_lock),
      caller_(std::this_thread::get_id()),
      next_poll_(std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopSliceMs)),
      next_yield_(std::chrono::steady_clock::now()) {}

bool BatchStop::reader_asks() {
  if (cancel.load(std::memory_order_relaxed) || stopped()) return true;
  if (ask_ && std::this_thread::get_id() == caller_) {
    if (caller_lock_.acquire) caller_lock_.acquire();
    poll();
    if (caller_lock_.release) caller_lock_.release();
  }
  return stopped();
}

void BatchStop::poll() {
  if (!stopped() && stop_asked(ask_)) stopped_.store(true, std::memory_order_relaxed);
}

void BatchStop::poll_between_files() {
  const auto now = std::chrono::steady_clock::now();
  // Other threads get the caller's lock every kYieldMs, even while the pool
  // has every file ready before the caller needs it.
  if (now >= next_yield_ && caller_lock_.release && caller_lock_.acquire) {
    caller_lock_.release();
    caller_lock_.acquire();
    next_yield_ = now + std::chrono::milliseconds(kYieldMs);
  }
  if (!ask_ || stopped() || now < next_poll_) return;
  next_poll_ = now + std::chrono::milliseconds(kStopSliceMs);
  poll();
}

Result<TextGridView> read_one(const std::string& path, const ReadOptions& options) {
  try {
    return read_file(path, options);
  } catch (const std::bad_alloc&) {
    return std::unexpected(os_error(ENOMEM));
  }
}

}  // namespace detail

namespace {

// Each file is converted whole on the thread that read it: the files already
// keep the pool busy, and a map nested per tier would only add hand-offs.
template <class R, class Convert>
std::vector<R> read_all(const std::vector<std::string>& files, const ReadOptions& options,
                        Convert convert) {
  std::vector<R> out(files.size());
  read_in_order<R>(
      files, options, {},
      [&](Result<TextGridView>&& view) { return view ? convert(view->to_textgrid()) : R{}; },
      [&](std::size_t i, R&& result) {
        out[i] = std::move(result);
        return true;
      });
  return out;
}

}  // namespace

std::vector<TextGridData> files_to_data(const std::vector<std::string>& files,
                                        const ReadOptions& options) {
  return read_all<TextGridData>(files, options,
                                [](const TextGrid& textgrid) { return textgrid.to_data(false); });
}

std::vector<TextGridVectors> files_to_vectors(const std::vector<std::string>& files,
                                              const ReadOptions& options) {
  return read_all<TextGridVectors>(files, options,
                                   [](const TextGrid& textgrid) { return textgrid.to_vectors(); });
}

std::vector<TextGridData> files_to_data(const std::vector<std::string>& files, bool strict,
                                        std::string_view file_type) {
  const std::optional<FileType> layout = parse_file_type(file_type);
  if (!layout) return std::vector<TextGridData>(files.size());
  return files_to_data(files, {.file_type = *layout, .strict = strict});
}

std::vector<TextGridVectors> files_to_vectors(const std::vector<std::string>& files, bool strict,
                                              std::string_view file_type) {
  const std::optional<FileType> layout = parse_file_type(file_type);
  if (!layout) return std::vector<TextGridVectors>(files.size());
  return files_to_vectors(files, {.file_type = *layout, .strict = strict});
}

}  // namespace textgrid
