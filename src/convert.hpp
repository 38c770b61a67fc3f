// The argument kinds: each turns one Python value into a plain value, or sets
// the kind's exception and returns false. Nothing here keeps a Python object.
#pragma once

#include "ref.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding.hpp"

namespace plinth {

// text: an instance of str (or a subclass), as UTF-8.
bool to_text(PyObject* value, std::string& out);

// text, viewed: the UTF-8 that the str itself keeps, valid while it lives.
bool to_text_view(PyObject* value, std::string_view& out);

// flag: True, False, or a NumPy boolean scalar (numpy.bool_ / numpy.bool).
bool to_flag(PyObject* value, bool& out);

// number: a float, or anything the interpreter converts to one.
bool to_number(PyObject* value, double& out);

// optional number: None, or a number.
bool to_optional_number(PyObject* value, std::optional<double>& out);

// record of three: a tuple (or subclass) of length 3; `items` are borrowed.
bool to_record(PyObject* value, PyObject* (&items)[3]);

// Refuses a str and anything the sequence test rejects; returns a new
// reference to a list or tuple holding the elements in iteration order.
PyObject* as_sequence(PyObject* value);

// list of X: every element through `convert` (bool(PyObject*, T&)), in order.
template <class T, class Convert>
bool to_list(PyObject* value, std::vector<T>& out, Convert convert) {
  Ref sequence(as_sequence(value));
  if (!sequence) return false;
  out.clear();
  out.reserve(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence.get())));
  // The size is read again each round: an element's __float__ may change a list.
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(sequence.get()); ++i) {
    Ref item = Ref::borrow(PySequence_Fast_GET_ITEM(sequence.get(), i));
    if (!convert(item.get(), out.emplace_back())) return false;
  }
  return true;
}

// list of text: every element a str, as UTF-8, in order.
bool to_texts(PyObject* value, std::vector<std::string>& out);

// A one-dimensional buffer of native doubles (format "d") or of bools
// (format "?"), such as a NumPy float64 or bool array, read without making an
// object per element. Returns false and leaves `out` alone when `value` has
// no such buffer; the element-wise path gives the same values, only slower.
bool numbers_from_buffer(PyObject* value, std::vector<double>& out);
bool flags_from_buffer(PyObject* value, std::vector<unsigned char>& out);

// After a failed conversion of parameter `index`: an exact TypeError becomes
// "argument '<name>': <message>" with the first one as __cause__; any other
// exception stays as it is. Returns false.
bool argument_failed(const Signature& signature, Py_ssize_t index);

// Converts bound argument `index` with `convert`, naming the parameter in a
// TypeError.
template <class T, class Convert>
bool convert_argument(const Signature& signature, PyObject* const* bound, Py_ssize_t index, T& out,
                      Convert convert) {
  if (convert(bound[index], out)) return true;
  return argument_failed(signature, index);
}

// Binds and converts (file or files, strict, file_type), the parameters of
// every reading function, in that order; false with the exception set.
template <class Path, class ConvertPath>
bool read_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Path& path, ConvertPath convert_path, bool& strict,
                    std::string& file_type) {
  PyObject* bound[3];
  return bind_arguments(signature, args, nargs, kwnames, bound) &&
         convert_argument(signature, bound, 0, path, convert_path) &&
         convert_argument(signature, bound, 1, strict, to_flag) &&
         convert_argument(signature, bound, 2, file_type, to_text);
}

}  // namespace plinth
