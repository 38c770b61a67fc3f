// Small builders of result objects from the core's plain values.
#pragma once

#include "ref.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace plinth {

// Whether every byte of `text` is below 0x80, a word at a time.
inline bool is_ascii(std::string_view text) {
  const char* p = text.data();
  const std::size_t size = text.size();
  std::uint64_t seen = 0;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    seen |= word;
  }
  for (; i < size; ++i) seen |= static_cast<unsigned char>(p[i]);
  return (seen & 0x8080808080808080u) == 0;
}

// A new str from the core's UTF-8 text (valid: the readers and the argument
// conversions checked it), or null. Pure ASCII, the common label, is copied
// straight into a new one-byte str without decoding.
inline PyObject* new_text(std::string_view text) {
  const auto size = static_cast<Py_ssize_t>(text.size());
  if (!is_ascii(text)) return PyUnicode_DecodeUTF8(text.data(), size, nullptr);
  PyObject* str = PyUnicode_New(size, 127);
  // An empty view may hold no pointer at all, which memcpy must not be given.
  if (str != nullptr && size != 0) {
    std::memcpy(PyUnicode_1BYTE_DATA(str), text.data(), text.size());
  }
  return str;
}

// A new tuple that steals `items` (all non-null), or null (the items are
// released then).
template <class... Refs>
PyObject* new_tuple(Refs&&... items) {
  Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(sizeof...(items))));
  if (!tuple) return nullptr;
  Py_ssize_t position = 0;
  ((PyTuple_SET_ITEM(tuple.get(), position++, items.release())), ...);
  return tuple.release();
}

}  // namespace plinth
