// textgrid2table and textgrids2table: TextGrids as an Arrow table (plinth.Table),
// in the fast-call-with-keywords form of the six functions.
#pragma once

#include "ref.hpp"

namespace plinth {

PyObject* textgrid2table(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* textgrids2table(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);

// Interns the parameter names of both; false with an exception set.
bool intern_table_signatures();

}  // namespace plinth
