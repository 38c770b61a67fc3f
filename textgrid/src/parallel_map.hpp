// The ordered parallel map: per-element work over a list, results in input
// order, short lists on the calling thread, long ones on the process-wide pool.
#pragma once

#include <cstddef>
#include <span>
#include <type_traits>
#include <vector>

namespace textgrid {

// The smallest number of elements in a piece of parallel work.
inline constexpr std::size_t PARALLEL_MIN_LEN = 20;

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
// reads the elements; a mutable one lets `fn` move parts out of them.
// PLACEHOLDER: sequential until the pool lands.
template <class T, class F>
std::vector<detail::element_result_t<F, T>> parallel_map(std::span<T> elements, F&& fn) {
  std::vector<detail::element_result_t<F, T>> out;
  out.reserve(elements.size());
  for (std::size_t i = 0; i < elements.size(); ++i) {
    out.push_back(detail::invoke_element(fn, elements[i], i));
  }
  return out;
}

}  // namespace textgrid
