// The argument kinds: each turns one Python value into a plain value, or sets
// the kind's exception and returns false. Nothing here keeps a Python object.
#pragma once

#include "ref.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/read_options.hpp"
#include "binding.hpp"

namespace plinth {

// text: an instance of str (or a subclass), as UTF-8.
bool to_text(PyObject* value, std::string& out);

// text, viewed: the UTF-8 that the str itself keeps, valid while it lives.
bool to_text_view(PyObject* value, std::string_view& out);

// path: an instance of str (or a subclass), in the file system's encoding
// with its error handler (os.fsencode), so that a name that is not UTF-8
// (os.listdir gives it with surrogate escapes) reaches the file it names.
bool to_path(PyObject* value, std::string& out);

// list of path: a sequence of str, as for the list kind.
bool to_paths(PyObject* value, std::vector<std::string>& out);

// path-like: a str or an os.PathLike (not bytes), through os.fspath, then as
// for path.
bool to_path_like(PyObject* value, std::string& out);

// iterable of path-like: any iterable (a list, a generator, a pandas Series,
// ...) of path-likes, in iteration order; a single str or bytes is refused.
bool to_path_likes(PyObject* value, std::vector<std::string>& out);

// encoding: the word of the table functions' `encoding`, as the core's
// Encoding; refuses the words that no reader decodes yet.
bool to_encoding(PyObject* value, textgrid::Encoding& out);

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
// TypeError. An optional parameter that the call left out keeps `out`, its
// default.
template <class T, class Convert>
bool convert_argument(const Signature& signature, PyObject* const* bound, Py_ssize_t index, T& out,
                      Convert convert) {
  if (bound[index] == nullptr || convert(bound[index], out)) return true;
  return argument_failed(signature, index);
}

// Binds and converts (file or files, strict, file_type[, encoding]), the
// parameters of every reading function, in that order; false with the
// exception set. `encoding` is for the functions that take it; the
// parameters left out keep the values given.
template <class Path, class ConvertPath>
bool read_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Path& path, ConvertPath convert_path, bool& strict,
                    std::string& file_type, textgrid::Encoding* encoding = nullptr) {
  PyObject* bound[kMostParameters];
  return bind_arguments(signature, args, nargs, kwnames, bound) &&
         convert_argument(signature, bound, 0, path, convert_path) &&
         convert_argument(signature, bound, 1, strict, to_flag) &&
         convert_argument(signature, bound, 2, file_type, to_text) &&
         (encoding == nullptr || convert_argument(signature, bound, 3, *encoding, to_encoding));
}

}  // namespace plinth
