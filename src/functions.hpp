// The six functions of the module, in the fast-call-with-keywords form, and
// their signatures (interned once by the module initialisation).
#pragma once

#include "ref.hpp"

#include "binding.hpp"

namespace plinth {

// Structured data: nested tuples and lists.
PyObject* textgrid2data(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);
PyObject* textgrids2data(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* data2textgrid(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);

// Vectors: NumPy arrays and lists of str.
PyObject* textgrid2vectors(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PyObject* textgrids2vectors(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);
PyObject* vectors2textgrid(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);

// Interns the parameter names of all six; false with an exception set.
bool intern_data_signatures();
bool intern_vector_signatures();

}  // namespace plinth
