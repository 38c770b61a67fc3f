// plinth.Table: a Python object that owns an Arrow table of the core and hands
// it to Arrow consumers through the PyCapsule interface.
#pragma once

#include "ref.hpp"

#include <memory>

#include "arrow/arrow_table.hpp"
#include "arrow/side_tables.hpp"

namespace plinth {

// Creates the type once per process and adds it to `module` as "Table";
// false with an exception set on failure.
bool add_table_type(PyObject* module);

// Returns a new Table that shares `table` and takes over `failed` (a dict),
// or null.
PyObject* new_table(std::shared_ptr<const textgrid::ArrowTable> table, Ref failed,
                    textgrid::TablePart part = textgrid::TablePart::Items);

}  // namespace plinth
