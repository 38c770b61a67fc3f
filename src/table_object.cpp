#include "table_object.hpp"

#include <cstddef>
#include <new>
#include <utility>

#include "arrow/arrow_export.hpp"
#include "errors.hpp"
#include "table_docstrings.hpp"

namespace plinth {

namespace {

constexpr const char kSchemaCapsule[] = "arrow_schema";
constexpr const char kStreamCapsule[] = "arrow_array_stream";

struct TableObject {
  PyObject_HEAD
      // Constructed in place by new_table; shared with every exported structure.
      std::shared_ptr<const textgrid::ArrowTable>
          table;
  PyObject* failed;  // dict: position -> message
  Py_ssize_t rows;
};

// Created once, owned until the process ends.
PyTypeObject* table_type = nullptr;

TableObject* as_table(PyObject* self) {
  return reinterpret_cast<TableObject*>(self);
}

void table_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  TableObject* table = as_table(self);
  table->table.~shared_ptr();
  Py_XDECREF(table->failed);
  type->tp_free(self);
  Py_DECREF(type);  // instances of a heap type own a reference to it
}

Py_ssize_t table_length(PyObject* self) {
  return as_table(self)->rows;
}

PyObject* table_repr(PyObject* self) {
  const TableObject* table = as_table(self);
  return PyUnicode_FromFormat("<plinth.Table: %zd rows, %zd batches, %zd failed>", table->rows,
                              static_cast<Py_ssize_t>(table->table->batches.size()),
                              PyDict_GET_SIZE(table->failed));
}

PyObject* table_failed(PyObject* self, void*) {
  return PyDict_Copy(as_table(self)->failed);
}

// The capsules' destructors release what the consumer did not take over (a
// consumer that takes the structure marks it released), then free it.
void free_schema_capsule(PyObject* capsule) {
  auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, kSchemaCapsule));
  if (schema == nullptr) {
    PyErr_Clear();
    return;
  }
  if (schema->release != nullptr) schema->release(schema);
  delete schema;
}

void free_stream_capsule(PyObject* capsule) {
  auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, kStreamCapsule));
  if (stream == nullptr) {
    PyErr_Clear();
    return;
  }
  if (stream->release != nullptr) stream->release(stream);
  delete stream;
}

PyObject* table_arrow_c_schema(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    auto schema = std::make_unique<ArrowSchema>();
    textgrid::export_schema(*as_table(self)->table, schema.get());
    PyObject* capsule = PyCapsule_New(schema.get(), kSchemaCapsule, free_schema_capsule);
    if (capsule == nullptr) {
      schema->release(schema.get());
      return nullptr;
    }
    schema.release();
    return capsule;
  });
}

PyObject* table_arrow_c_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* keywords[] = {"requested_schema", nullptr};
    PyObject* requested = Py_None;  // borrowed
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:__arrow_c_stream__",
                                     const_cast<char**>(keywords), &requested)) {
      return nullptr;
    }
    const TableObject* table = as_table(self);
    if (requested != Py_None) {
      if (!PyCapsule_IsValid(requested, kSchemaCapsule)) {
        PyErr_Format(PyExc_TypeError,
                     "requested_schema must be None or a PyCapsule named 'arrow_schema', not '%s'",
                     Py_TYPE(requested)->tp_name);
        return nullptr;
      }
      const auto* schema =
          static_cast<const ArrowSchema*>(PyCapsule_GetPointer(requested, kSchemaCapsule));
      if (schema == nullptr) return nullptr;
      if (schema->release == nullptr) {
        PyErr_SetString(PyExc_ValueError, "requested_schema holds a released schema");
        return nullptr;
      }
      const textgrid::Status fits = textgrid::check_requested_schema(*table->table, *schema);
      if (!fits) {
        PyErr_SetString(PyExc_ValueError, fits.error().message.c_str());
        return nullptr;
      }
    }
    auto stream = std::make_unique<ArrowArrayStream>();
    textgrid::export_stream(table->table, stream.get());
    PyObject* capsule = PyCapsule_New(stream.get(), kStreamCapsule, free_stream_capsule);
    if (capsule == nullptr) {
      stream->release(stream.get());
      return nullptr;
    }
    stream.release();
    return capsule;
  });
}

PyMethodDef table_methods[] = {
    {"__arrow_c_stream__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(table_arrow_c_stream)),
     METH_VARARGS | METH_KEYWORDS, docs::arrow_c_stream},
    {"__arrow_c_schema__", table_arrow_c_schema, METH_NOARGS, docs::arrow_c_schema},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_getset[] = {
    {"failed", table_failed, nullptr, docs::failed, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot table_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::table)},
    {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(table_repr)},
    {Py_tp_methods, table_methods},
    {Py_tp_getset, table_getset},
    {Py_sq_length, reinterpret_cast<void*>(table_length)},
    {0, nullptr},
};

PyType_Spec table_definition = {
    "plinth.Table",
    static_cast<int>(sizeof(TableObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    table_slots,
};

}  // namespace

bool add_table_type(PyObject* module) {
  if (table_type == nullptr) {
    table_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&table_definition));
    if (table_type == nullptr) return false;
  }
  return PyModule_AddObjectRef(module, "Table", reinterpret_cast<PyObject*>(table_type)) == 0;
}

PyObject* new_table(std::shared_ptr<const textgrid::ArrowTable> table, Ref failed) {
  const std::int64_t rows = table->rows();
  PyObject* self = table_type->tp_alloc(table_type, 0);
  if (self == nullptr) return nullptr;
  TableObject* object = as_table(self);
  new (&object->table) std::shared_ptr<const textgrid::ArrowTable>(std::move(table));
  object->failed = failed.release();
  object->rows = static_cast<Py_ssize_t>(rows);
  return self;
}

}  // namespace plinth
