// The module's functions, in the fast-call-with-keywords form, with the
// parameters each one binds. registry.cpp holds them in one table, in
// registration order, with their docstrings.
#pragma once

#include "ref.hpp"

#include <span>

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

// Arrow tables (plinth.Table).
PyObject* textgrid2table(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* textgrids2table(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);

// Writing a corpus back from Arrow tables.
PyObject* table2textgrids(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);

// The parameters of each function, as its docstring's text signature lists
// them; their names are interned by intern_parameter_names.
namespace signatures {
extern const Signature textgrid2vectors;
extern const Signature textgrids2vectors;
extern const Signature textgrid2data;
extern const Signature textgrids2data;
extern const Signature data2textgrid;
extern const Signature vectors2textgrid;
extern const Signature textgrid2table;
extern const Signature textgrids2table;
extern const Signature table2textgrids;
}  // namespace signatures

// The method table of every function, in registration order; it lives as
// long as the functions made from it.
std::span<PyMethodDef> module_functions();

// Interns every function's parameter names, once per process; false with an
// exception set.
bool intern_parameter_names();

}  // namespace plinth
