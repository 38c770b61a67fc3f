#include "convert.hpp"

#include "errors.hpp"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string_view>

namespace plinth {

namespace {

// The qualified name of the value's type (int, list, PosixPath, Outer.Inner).
PyObject* type_qualname(PyObject* value) {
#if PY_VERSION_HEX >= 0x030B0000
  PyObject* name = PyType_GetQualName(Py_TYPE(value));
#else
  PyObject* name =
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__");
#endif
  if (name == nullptr) {
    PyErr_Clear();
    name = PyUnicode_FromString(Py_TYPE(value)->tp_name);
  }
  return name;
}

bool cannot_cast(PyObject* value, const char* target) {
  Ref name(type_qualname(value));
  if (!name) return false;
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be cast as '%s'", name.get(), target);
  return false;
}

// A NumPy boolean scalar: its type's module is "numpy" and its name "bool_"
// (NumPy 1) or "bool" (NumPy 2). NumPy is never imported for this.
bool is_numpy_bool(PyTypeObject* type) {
  const std::string_view name = type->tp_name;
  if (!(type->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
    // A static type's tp_name is "module.name".
    return name == "numpy.bool_" || name == "numpy.bool";
  }
  if (name != "bool_" && name != "bool") return false;
  PyObject* module = PyDict_GetItemString(type->tp_dict, "__module__");  // borrowed
  return module != nullptr && PyUnicode_Check(module) &&
         PyUnicode_CompareWithASCIIString(module, "numpy") == 0;
}

// Reads a 1-D buffer whose format is one of `formats` into `out`.
template <class T>
bool from_buffer(PyObject* value, std::initializer_list<std::string_view> formats,
                 std::vector<T>& out) {
  if (PyList_Check(value) || PyTuple_Check(value) || !PyObject_CheckBuffer(value)) return false;
  Py_buffer view;
  if (PyObject_GetBuffer(value, &view, PyBUF_RECORDS_RO) < 0) {
    PyErr_Clear();
    return false;
  }
  bool taken = false;
  const std::string_view format = view.format != nullptr ? view.format : "B";
  bool known = false;
  for (std::string_view f : formats) known = known || f == format;
  if (view.ndim == 1 && view.itemsize == static_cast<Py_ssize_t>(sizeof(T)) && known) {
    const auto count = static_cast<std::size_t>(view.shape[0]);
    const Py_ssize_t stride = view.strides != nullptr ? view.strides[0] : view.itemsize;
    out.resize(count);
    const char* at = static_cast<const char*>(view.buf);
    for (std::size_t i = 0; i < count; ++i, at += stride) std::memcpy(&out[i], at, sizeof(T));
    taken = true;
  }
  PyBuffer_Release(&view);
  return taken;
}

}  // namespace

bool numbers_from_buffer(PyObject* value, std::vector<double>& out) {
  return from_buffer(value, {"d", "@d", "=d"}, out);
}

bool flags_from_buffer(PyObject* value, std::vector<unsigned char>& out) {
  if (!from_buffer(value, {"?", "@?", "=?"}, out)) return false;
  for (unsigned char& flag : out) flag = flag != 0 ? 1 : 0;
  return true;
}

bool to_text_view(PyObject* value, std::string_view& out) {
  if (!PyUnicode_Check(value)) return cannot_cast(value, "str");
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);  // UnicodeEncodeError on surrogates
  if (utf8 == nullptr) return false;
  out = std::string_view(utf8, static_cast<std::size_t>(size));
  return true;
}

bool to_text(PyObject* value, std::string& out) {
  std::string_view view;
  if (!to_text_view(value, view)) return false;
  out.assign(view);
  return true;
}

bool to_path(PyObject* value, std::string& out) {
  if (!PyUnicode_Check(value)) return cannot_cast(value, "str");
  // Every file system encoding of a POSIX system keeps ASCII as it is: the
  // common path needs no encoding, and the UTF-8 the str keeps serves.
  if (PyUnicode_IS_ASCII(value)) return to_text(value, out);
  Ref bytes(PyUnicode_EncodeFSDefault(value));
  if (!bytes) return false;
  out.assign(PyBytes_AS_STRING(bytes.get()),
             static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
  return true;
}

bool to_paths(PyObject* value, std::vector<std::string>& out) {
  return to_list(value, out, to_path);
}

bool to_path_like(PyObject* value, std::string& out) {
  if (PyUnicode_Check(value)) return to_path(value, out);
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));  // borrowed
  if (PyBytes_Check(value) || PyObject_HasAttrString(type, "__fspath__") == 0) {
    Ref name(type_qualname(value));
    if (name)
      PyErr_Format(PyExc_TypeError, "expected str or os.PathLike object, not %U", name.get());
    return false;
  }
  Ref path(PyOS_FSPath(value));  // a str or bytes
  if (!path) return false;
  if (!PyBytes_Check(path.get())) return to_path(path.get(), out);
  out.assign(PyBytes_AS_STRING(path.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(path.get())));
  return true;
}

bool to_path_likes(PyObject* value, std::vector<std::string>& out) {
  out.clear();
  // A single path is iterable too, but never a collection of paths.
  const bool iterable = Py_TYPE(value)->tp_iter != nullptr || PySequence_Check(value);
  if (PyUnicode_Check(value) || PyBytes_Check(value) || !iterable) {
    Ref name(type_qualname(value));
    if (name) PyErr_Format(PyExc_TypeError, "'%U' object is not an iterable of paths", name.get());
    return false;
  }
  const Py_ssize_t hint = PyObject_LengthHint(value, 0);
  if (hint < 0) return false;
  out.reserve(static_cast<std::size_t>(std::min<Py_ssize_t>(hint, 1 << 20)));
  Ref iterator(PyObject_GetIter(value));
  if (!iterator) return false;
  for (Ref item(PyIter_Next(iterator.get())); item; item.reset(PyIter_Next(iterator.get()))) {
    if (!to_path_like(item.get(), out.emplace_back())) return false;
  }
  return !PyErr_Occurred();
}

bool to_encoding(PyObject* value, textgrid::Encoding& out) {
  std::string_view word;
  if (!to_text_view(value, word)) return false;
  // The one place where the word becomes the core's Encoding.
  const std::optional<textgrid::Encoding> encoding = textgrid::parse_encoding(word);
  if (encoding) {
    out = *encoding;
    return true;
  }
  PyErr_Format(PyExc_ValueError, "encoding must be 'utf-8', 'praat', 'latin-1' or 'cp1252', not %R",
               value);
  return false;
}

bool to_flag(PyObject* value, bool& out) {
  if (value == Py_True || value == Py_False) {
    out = value == Py_True;
    return true;
  }
  PyTypeObject* type = Py_TYPE(value);
  if (!is_numpy_bool(type)) return cannot_cast(value, "bool");
  const int truth = type->tp_as_number != nullptr && type->tp_as_number->nb_bool != nullptr
                        ? type->tp_as_number->nb_bool(value)
                        : PyObject_IsTrue(value);
  if (truth < 0) return false;
  out = truth != 0;
  return true;
}

bool to_number(PyObject* value, double& out) {
  if (PyFloat_Check(value)) {
    out = PyFloat_AS_DOUBLE(value);
    return true;
  }
  out = PyFloat_AsDouble(value);  // __float__, then __index__
  return !(out == -1.0 && PyErr_Occurred());
}

bool to_optional_number(PyObject* value, std::optional<double>& out) {
  if (value == Py_None) {
    out.reset();
    return true;
  }
  double number = 0.0;
  if (!to_number(value, number)) return false;
  out = number;
  return true;
}

bool to_record(PyObject* value, PyObject* (&items)[3]) {
  if (!PyTuple_Check(value)) return cannot_cast(value, "tuple");
  const Py_ssize_t size = PyTuple_GET_SIZE(value);
  if (size != 3) {
    PyErr_Format(PyExc_ValueError, "expected tuple of length 3, but got tuple of length %zd", size);
    return false;
  }
  for (Py_ssize_t i = 0; i < 3; ++i) items[i] = PyTuple_GET_ITEM(value, i);  // borrowed
  return true;
}

PyObject* as_sequence(PyObject* value) {
  // A str passes the sequence test, but a path is never a list of letters.
  if (PyUnicode_Check(value) || !PySequence_Check(value)) {
    cannot_cast(value, "Sequence");
    return nullptr;
  }
  return PySequence_Fast(value, "object is not iterable");
}

bool to_texts(PyObject* value, std::vector<std::string>& out) {
  return to_list(value, out, to_text);
}

bool argument_failed(const Signature& signature, Py_ssize_t index) {
  if (!PyErr_Occurred() || !PyErr_ExceptionMatches(PyExc_TypeError)) return false;
  Ref first(take_exception());
  if (!first) return false;
  if (Py_TYPE(first.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    raise_again(first.release());  // a subclass of TypeError goes on unchanged
    return false;
  }
  Ref message(PyObject_Str(first.get()));
  if (!message) return false;
  Ref text(PyUnicode_FromFormat("argument '%s': %U", signature.names[index], message.get()));
  if (!text) return false;
  Ref second(PyObject_CallOneArg(PyExc_TypeError, text.get()));
  if (!second) return false;
  PyException_SetContext(second.get(), Ref::borrow(first.get()).release());  // steals
  PyException_SetCause(second.get(), first.release());                       // steals
  PyErr_SetObject(PyExc_TypeError, second.get());
  return false;
}

}  // namespace plinth
