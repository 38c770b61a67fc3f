// Many TextGrid files read in input order: the one batch driver. The pool
// reads the files a bounded distance ahead while the calling thread takes
// each file's result in turn (the Python module builds its objects from it,
// the Arrow table appends its rows), so that no consumer waits for the whole
// batch and no more than a few files are held at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/read_options.hpp"
#include "model/converter.hpp"
#include "parallel/ordered_stream.hpp"
#include "read/read.hpp"

namespace textgrid {

namespace detail {

// The stop hook of one batch read. Only the calling thread may ask the
// caller's hook, with the caller's lock held (the Python module needs its
// interpreter lock for it); a stop it hears of is kept for the readers on
// every thread.
class BatchStop {
 public:
  BatchStop(const ShouldStop& ask, const CallerLock& caller_lock);

  bool stopped() const { return stopped_.load(std::memory_order_relaxed); }

  // What every reader of the batch asks while its file waits for data: also
  // true once the stream has ended early, so that a file in flight does not
  // keep the call waiting on a FIFO. The caller asks its hook, taking its
  // lock for it.
  bool reader_asks();

  // The caller, its lock held: asks the hook.
  void poll();

  // The caller, its lock held, between two files: lets go of the lock and
  // takes it again when kYieldMs have passed since it last did, so that other
  // threads run however quickly the files come; asks the hook when
  // kStopSliceMs have passed since it last did, so that a stop is heard
  // within a slice.
  void poll_between_files();

  // How often the caller yields its lock between files: twice CPython's
  // switch interval (5 ms). A thread kept waiting for a whole interval asks
  // for the lock, and the caller then hands it over when it lets go; yielding
  // more often would reset that wait each time and hand over nothing.
  static constexpr int kYieldMs = 10;

  std::atomic<bool> cancel{false};  // set by the stream when it ends early

 private:
  const ShouldStop& ask_;
  const CallerLock& caller_lock_;
  const std::thread::id caller_;
  std::chrono::steady_clock::time_point next_poll_;
  std::chrono::steady_clock::time_point next_yield_;
  std::atomic<bool> stopped_{false};
};

// read_file, with an allocation that fails (a file too large for the memory
// left) as that file's failure, "Cannot allocate memory (os error 12)": it
// fails one file of a batch, not the batch.
Result<TextGridView> read_one(const std::string& path, const ReadOptions& options);

}  // namespace detail

// Reads every file with read_file and hands each result to
// `consume(i, R&&)` (returning whether to go on) on the calling thread, in
// input order, each exactly once; `convert(Result<TextGridView>&&)` makes the
// R of a file on the thread that read it. The pool reads ahead from the
// parallel threshold on (produce_in_order): the caller holds `caller_lock`
// only while it consumes, and lets go of it while it reads or waits. A file
// is read on one thread (options.may_split is not used: the other files keep
// the pool busy); a file that cannot be held in memory fails alone
// (detail::read_one). `options.should_stop` is asked on the calling thread only,
// with the lock held: while a file that the caller reads waits for data,
// while the caller waits for a file, and between files at least every
// kStopSliceMs; once it says stop, the files not yet read are handed over as
// R{}. `consume` returning false ends the call early; an exception that
// `convert` or `consume` throws is rethrown once the workers are done.
template <class R, class Convert, class Consume>
void read_in_order(const std::vector<std::string>& files, const ReadOptions& options,
                   const CallerLock& caller_lock, Convert&& convert, Consume&& consume) {
  detail::BatchStop stop(options.should_stop, caller_lock);
  ReadOptions each = options;
  each.may_split = false;
  each.should_stop = [&stop] { return stop.reader_asks(); };
  auto produce = [&](std::size_t i) -> R {
    if (stop.stopped()) return R{};
    return convert(detail::read_one(files[i], each));
  };
  auto hand_over = [&](std::size_t i, R&& element) {
    stop.poll_between_files();
    return consume(i, std::move(element));
  };
  std::function<void()> while_waiting;
  if (options.should_stop) while_waiting = [&stop] { stop.poll(); };
  produce_in_order<R>(files.size(), produce, hand_over, caller_lock, stop.cancel, while_waiting);
}

// Reads and converts every path in input order (read_in_order, on the pool
// from the parallel threshold on); a file that fails, or that comes after a
// stop, yields (0, 0, no tiers). The result is sized once.
std::vector<TextGridData> files_to_data(const std::vector<std::string>& files,
                                        const ReadOptions& options);

// As files_to_data; a file that fails yields empty columns.
std::vector<TextGridVectors> files_to_vectors(const std::vector<std::string>& files,
                                              const ReadOptions& options);

// The forms by layout word ("auto", "long", "short"): any other word reads
// no file and yields an empty result for every one.
std::vector<TextGridData> files_to_data(const std::vector<std::string>& files, bool strict,
                                        std::string_view file_type);
std::vector<TextGridVectors> files_to_vectors(const std::vector<std::string>& files, bool strict,
                                              std::string_view file_type);

}  // namespace textgrid
