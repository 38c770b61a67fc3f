#include "binding.hpp"

namespace plinth {

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": CPython's list of missing names.
PyObject* missing_names_text(const Signature& signature, PyObject* const* bound,
                             Py_ssize_t missing) {
  Ref text(PyUnicode_FromString(""));
  Py_ssize_t listed = 0;
  for (Py_ssize_t i = 0; i < signature.required && text; ++i) {
    if (bound[i] != nullptr) continue;
    const char* separator = "";
    if (listed > 0) {
      if (missing == 2) {
        separator = " and ";
      } else {
        separator = listed == missing - 1 ? ", and " : ", ";
      }
    }
    Ref piece(PyUnicode_FromFormat("%s'%s'", separator, signature.names[i]));
    if (!piece) return nullptr;
    text.reset(PyUnicode_Concat(text.get(), piece.get()));
    ++listed;
  }
  return text.release();
}

}  // namespace

bool intern_names(const Signature& signature) {
  for (Py_ssize_t i = 0; i < signature.count; ++i) {
    if (signature.interned[i] != nullptr) continue;
    signature.interned[i] = PyUnicode_InternFromString(signature.names[i]);
    if (signature.interned[i] == nullptr) return false;
  }
  return true;
}

bool check_positional_nargs(const Signature& signature, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs <= signature.positional) return true;
  Py_ssize_t keyword_only = 0;
  const Py_ssize_t nkwargs = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkwargs; ++k) {
    keyword_only += find_keyword(signature, PyTuple_GET_ITEM(kwnames, k)) >= signature.positional;
  }
  const bool defaults = signature.required < signature.positional;
  Ref takes(defaults
                ? PyUnicode_FromFormat("from %zd to %zd", signature.required, signature.positional)
                : PyUnicode_FromFormat("%zd", signature.positional));
  Ref also(keyword_only == 0
               ? PyUnicode_FromString("")
               : PyUnicode_FromFormat(" positional argument%s (and %zd keyword-only argument%s)",
                                      nargs != 1 ? "s" : "", keyword_only,
                                      keyword_only != 1 ? "s" : ""));
  if (!takes || !also) return false;
  PyErr_Format(PyExc_TypeError, "%s() takes %U positional argument%s but %zd%U %s given",
               signature.function, takes.get(), defaults || signature.positional != 1 ? "s" : "",
               nargs, also.get(), nargs == 1 && keyword_only == 0 ? "was" : "were");
  return false;
}

Py_ssize_t find_keyword(const Signature& signature, PyObject* keyword) {
  // Keyword names of a call are nearly always interned, so identity first.
  for (Py_ssize_t i = 0; i < signature.count; ++i) {
    if (signature.interned[i] == keyword) return i;
  }
  for (Py_ssize_t i = 0; i < signature.count; ++i) {
    if (PyUnicode_Compare(signature.interned[i], keyword) == 0) return i;
  }
  if (PyErr_Occurred()) PyErr_Clear();
  return -1;
}

bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames, PyObject** bound) {
  const Py_ssize_t nargs = PyVectorcall_NARGS(static_cast<std::size_t>(nargsf));
  if (!check_positional_nargs(signature, nargs, kwnames)) return false;
  for (Py_ssize_t i = 0; i < signature.count; ++i) bound[i] = i < nargs ? args[i] : nullptr;

  const Py_ssize_t nkwargs = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkwargs; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);  // borrowed
    const Py_ssize_t index = find_keyword(signature, keyword);
    if (index < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                   signature.function, keyword);
      return false;
    }
    if (bound[index] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                   signature.function, signature.names[index]);
      return false;
    }
    bound[index] = args[nargs + k];
  }

  Py_ssize_t missing = 0;
  for (Py_ssize_t i = 0; i < signature.required; ++i) missing += bound[i] == nullptr ? 1 : 0;
  if (missing == 0) return true;
  Ref names(missing_names_text(signature, bound, missing));
  if (!names) return false;
  PyErr_Format(PyExc_TypeError, "%s() missing %zd required positional argument%s: %U",
               signature.function, missing, missing == 1 ? "" : "s", names.get());
  return false;
}

}  // namespace plinth
