// The ordered parallel map: per-element work over a list, results in input
// order, short lists on the calling thread, long ones on the process-wide pool.
#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <span>
#include <type_traits>
#include <vector>

#include "base/cpus.hpp"
#include "parallel/thread_pool.hpp"

namespace textgrid {

namespace detail {
template <class F, class T>
decltype(auto) invoke_element(F& fn, T& element, std::size_t index) {
  if constexpr (std::is_invocable_v<F&, T&>) {
    (void)index;
    return fn(element);
  } else {
    return fn(element, index);
  }
}
template <class F, class T>
using element_result_t =
    std::decay_t<decltype(invoke_element(std::declval<F&>(), std::declval<T&>(), std::size_t{}))>;
}  // namespace detail

// Applies `fn` to every element, as fn(element) or, if that does not compile,
// fn(element, index), and returns the results in element order. A const span
// reads the elements; a mutable one lets `fn` move parts out of them. Below
// parallel_threshold() elements it runs on the calling thread without touching
// the pool; from there on the pool runs pieces of at least PARALLEL_MIN_LEN
// elements, each writing its own slots of the result. An exception thrown by
// `fn` is rethrown here once every piece has stopped. Allocates the result once.
template <class T, class F>
std::vector<detail::element_result_t<F, T>> parallel_map(std::span<T> elements, F&& fn) {
  using R = detail::element_result_t<F, T>;
  // Slots of a vector<bool> share bytes: pieces would race on them.
  static_assert(!std::is_same_v<R, bool>, "parallel_map cannot write vector<bool> slots apart");
  const std::size_t count = elements.size();
  std::vector<R> out;
  if (count == 0) return out;
  if (count < parallel_threshold()) {
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
      out.push_back(detail::invoke_element(fn, elements[i], i));
    return out;
  }
  out.resize(count);
  struct Context {
    std::span<T> elements;
    F& fn;
    std::vector<R>& out;
  } context{elements, fn, out};
  const detail::RangeWork work{[](void* raw, std::size_t begin, std::size_t end) {
                                 Context& c = *static_cast<Context*>(raw);
                                 for (std::size_t i = begin; i < end; ++i)
                                   c.out[i] = detail::invoke_element(c.fn, c.elements[i], i);
                               },
                               &context};
  detail::run_parallel(count, work);
  return out;
}

// Runs `fn(begin, end)` on each piece of [0, count) that the pool cuts (at
// least PARALLEL_MIN_LEN elements each; the whole range as one piece on the
// calling thread below twice that) and returns the pieces' results in range
// order: for work whose output per piece is one value (a slice of text)
// rather than one per element. An exception thrown by `fn` is rethrown here
// once every piece has stopped. count > 0.
template <class F>
std::vector<std::invoke_result_t<F&, std::size_t, std::size_t>> map_pieces(std::size_t count,
                                                                           F&& fn) {
  using R = std::invoke_result_t<F&, std::size_t, std::size_t>;
  struct Piece {
    std::size_t begin;
    R result;
  };
  struct Context {
    F& fn;
    std::mutex mutex;
    std::vector<Piece> pieces;
  } context{fn, {}, {}};
  const detail::RangeWork work{[](void* raw, std::size_t begin, std::size_t end) {
                                 Context& c = *static_cast<Context*>(raw);
                                 R result = c.fn(begin, end);
                                 const std::lock_guard lock(c.mutex);
                                 c.pieces.push_back(Piece{begin, std::move(result)});
                               },
                               &context};
  detail::run_parallel(count, work);
  std::sort(context.pieces.begin(), context.pieces.end(),
            [](const Piece& a, const Piece& b) { return a.begin < b.begin; });
  std::vector<R> out;
  out.reserve(context.pieces.size());
  for (Piece& piece : context.pieces) out.push_back(std::move(piece.result));
  return out;
}

// Runs `first` and `second`, side by side when the pool has a worker for one
// of them, else one after the other on the calling thread; returns when both
// are done, rethrowing the first exception either threw.
template <class A, class B>
void run_two(A&& first, B&& second) {
  struct Context {
    A& first;
    B& second;
  } context{first, second};
  // Two pieces of the smallest size that the pool cuts apart: the element at
  // the start of each runs one of the two.
  const detail::RangeWork work{[](void* raw, std::size_t begin, std::size_t end) {
                                 Context& c = *static_cast<Context*>(raw);
                                 if (begin == 0) c.first();
                                 if (begin <= PARALLEL_MIN_LEN && PARALLEL_MIN_LEN < end)
                                   c.second();
                               },
                               &context};
  detail::run_parallel(2 * PARALLEL_MIN_LEN, work);
}

}  // namespace textgrid
