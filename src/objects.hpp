// Small builders of result objects from the core's plain values.
#pragma once

#include "ref.hpp"

#include <string>
#include <vector>

namespace plinth {

// A new str decoded from the core's UTF-8 text, or null.
inline PyObject* new_text(const std::string& text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}

// A new list of str, created at its final length, or null.
inline PyObject* new_text_list(const std::vector<std::string>& texts) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(texts.size())));
  if (!list) return nullptr;
  PyObject* previous = nullptr;  // borrowed: runs of one name share one str
  for (std::size_t i = 0; i < texts.size(); ++i) {
    PyObject* text;
    if (previous != nullptr && texts[i] == texts[i - 1]) {
      text = Py_NewRef(previous);
    } else {
      text = new_text(texts[i]);
    }
    if (text == nullptr) return nullptr;
    previous = text;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text);  // steals
  }
  return list.release();
}

// A new list with one str per entry, `names[name_of[i]]`: every entry of one
// stored name shares one str. Null on failure.
inline PyObject* new_shared_text_list(const std::vector<std::size_t>& name_of,
                                      const std::vector<std::string>& names) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(name_of.size())));
  if (!list) return nullptr;
  std::vector<Ref> made(names.size());
  for (std::size_t i = 0; i < name_of.size(); ++i) {
    Ref& text = made[name_of[i]];
    if (!text) {
      text.reset(new_text(names[name_of[i]]));
      if (!text) return nullptr;
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(text.get()));  // steals
  }
  return list.release();
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
