#include "table_object.hpp"

#include <cstddef>
#include <new>
#include <span>
#include <string>
#include <utility>

#include "arrow/arrow_export.hpp"
#include "arrow/table_bytes.hpp"
#include "arrow/table_preview.hpp"
#include "errors.hpp"
#include "table_docstrings.hpp"

namespace plinth {

namespace {

constexpr const char kSchemaCapsule[] = "arrow_schema";
constexpr const char kStreamCapsule[] = "arrow_array_stream";
constexpr std::size_t kPreviewRows = 5;

struct TableObject {
  PyObject_HEAD
      // Constructed in place by new_table; shared with every exported structure.
      std::shared_ptr<const textgrid::ArrowTable>
          table;
  PyObject* failed;  // dict: position -> message
  Py_ssize_t rows;
  textgrid::TablePart part;  // the items, or the files or tiers table beside them
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

// True when a method of two arguments got two; else false with TypeError set.
bool takes_two(const char* name, Py_ssize_t nargs) {
  if (nargs == 2) return true;
  PyErr_Format(PyExc_TypeError, "%s expected 2 arguments, got %zd", name, nargs);
  return false;
}

// A buffer taken from an object, given back whatever happens.
struct Buffer {
  Py_buffer view{};
  bool held = false;
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (held) PyBuffer_Release(&view);
  }
};

// The table's counts, schema and first rows, as text or as HTML.
PyObject* table_preview(PyObject* self, bool html) {
  return guarded([&]() -> PyObject* {
    const TableObject* table = as_table(self);
    const textgrid::TablePreview preview = textgrid::preview_table(
        table->table, static_cast<std::size_t>(PyDict_GET_SIZE(table->failed)), kPreviewRows,
        table->part);
    const std::string text =
        html ? textgrid::preview_html(preview) : textgrid::preview_text(preview);
    // Labels are UTF-8 as read; bytes given to _from_pickle need not be.
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  });
}

// repr and str alike: the counts, the schema and the first rows, as a data
// frame shows itself at the prompt.
PyObject* table_repr(PyObject* self) {
  return table_preview(self, false);
}

PyObject* table_repr_html(PyObject* self, PyObject*) {
  return table_preview(self, true);
}

PyObject* table_repr_pretty(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (!takes_two("_repr_pretty_", nargs)) return nullptr;
  Ref text(table_preview(self, false));
  if (!text) return nullptr;
  Ref done(PyObject_CallMethod(args[0], "text", "O", text.get()));
  if (!done) return nullptr;
  Py_RETURN_NONE;
}

// (Table._from_pickle, (bytes of the buffers, copy of failed)); the files
// or tiers table, as that attribute of its items table.
PyObject* table_reduce(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const TableObject* table = as_table(self);
    const std::size_t size = textgrid::encoded_size(*table->table);
    Ref data(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
    if (!data) return nullptr;
    textgrid::encode_table(
        *table->table,
        std::span(reinterpret_cast<std::byte*>(PyBytes_AS_STRING(data.get())), size));
    Ref failed(PyDict_Copy(table->failed));
    if (!failed) return nullptr;
    Ref make(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "_from_pickle"));
    if (!make) return nullptr;
    Ref items(Py_BuildValue("(O(OO))", make.get(), data.get(), failed.get()));
    if (!items || table->part == textgrid::TablePart::Items) return items.release();
    Ref builtins(PyImport_ImportModule("builtins"));
    if (!builtins) return nullptr;
    Ref getattr(PyObject_GetAttrString(builtins.get(), "getattr"));
    if (!getattr) return nullptr;
    Ref copy(PyDict_Copy(table->failed));
    if (!copy) return nullptr;
    Ref items_table(new_table(table->table, std::move(copy)));
    if (!items_table) return nullptr;
    return Py_BuildValue("(O(Os))", getattr.get(), items_table.get(),
                         table->part == textgrid::TablePart::Files ? "files" : "tiers");
  });
}

// True when `failed` maps positions below `files` to messages; else false
// with TypeError set.
bool check_failed(PyObject* failed, std::size_t files) {
  bool fits = PyDict_Check(failed);
  Py_ssize_t at = 0;
  PyObject* position = nullptr;  // borrowed
  PyObject* message = nullptr;   // borrowed
  while (fits && PyDict_Next(failed, &at, &position, &message)) {
    const std::size_t value = PyLong_Check(position) ? PyLong_AsSize_t(position) : files;
    if (value == static_cast<std::size_t>(-1)) PyErr_Clear();
    fits = value < files && PyUnicode_Check(message);
  }
  if (!fits) {
    PyErr_SetString(PyExc_TypeError,
                    "Table._from_pickle: failed must map file positions to messages");
  }
  return fits;
}

PyObject* table_from_pickle(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return guarded([&]() -> PyObject* {
    if (!takes_two("_from_pickle", nargs)) return nullptr;
    Buffer data;
    if (PyObject_GetBuffer(args[0], &data.view, PyBUF_SIMPLE) < 0) return nullptr;
    data.held = true;
    auto decoded = textgrid::decode_table(std::span(static_cast<const std::byte*>(data.view.buf),
                                                    static_cast<std::size_t>(data.view.len)));
    if (!decoded) {
      PyErr_Format(PyExc_ValueError, "Table._from_pickle: %s", decoded.error().message.c_str());
      return nullptr;
    }
    if (!check_failed(args[1], decoded->file_count)) return nullptr;
    Ref failed(PyDict_Copy(args[1]));
    if (!failed) return nullptr;
    return new_table(std::make_shared<const textgrid::ArrowTable>(std::move(*decoded)),
                     std::move(failed));
  });
}

PyObject* table_failed(PyObject* self, void*) {
  return PyDict_Copy(as_table(self)->failed);
}

// The table beside the items of `self`, sharing its buffers.
PyObject* side_table(PyObject* self, textgrid::TablePart part) {
  const TableObject* table = as_table(self);
  if (table->part != textgrid::TablePart::Items) {
    PyErr_SetString(PyExc_AttributeError,
                    "only a table of items has the files and tiers tables beside it");
    return nullptr;
  }
  Ref failed(PyDict_Copy(table->failed));
  if (!failed) return nullptr;
  return new_table(table->table, std::move(failed), part);
}

PyObject* table_files(PyObject* self, void*) {
  return side_table(self, textgrid::TablePart::Files);
}

PyObject* table_tiers(PyObject* self, void*) {
  return side_table(self, textgrid::TablePart::Tiers);
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
    textgrid::export_schema(*as_table(self)->table, schema.get(), as_table(self)->part);
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
      const textgrid::Status fits =
          textgrid::check_requested_schema(*table->table, *schema, table->part);
      if (!fits) {
        PyErr_SetString(PyExc_ValueError, fits.error().message.c_str());
        return nullptr;
      }
    }
    auto stream = std::make_unique<ArrowArrayStream>();
    textgrid::export_stream(table->table, stream.get(), table->part);
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
    {"__reduce__", table_reduce, METH_NOARGS, docs::reduce},
    {"_from_pickle", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(table_from_pickle)),
     METH_FASTCALL | METH_CLASS, docs::from_pickle},
    {"_repr_html_", table_repr_html, METH_NOARGS, docs::repr_html},
    {"_repr_pretty_",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(table_repr_pretty)), METH_FASTCALL,
     docs::repr_pretty},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_getset[] = {
    {"failed", table_failed, nullptr, docs::failed, nullptr},
    {"files", table_files, nullptr, docs::files, nullptr},
    {"tiers", table_tiers, nullptr, docs::tiers, nullptr},
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

PyObject* new_table(std::shared_ptr<const textgrid::ArrowTable> table, Ref failed,
                    textgrid::TablePart part) {
  const std::int64_t rows = part == textgrid::TablePart::Items   ? table->rows()
                            : part == textgrid::TablePart::Files ? table->files.rows
                                                                 : table->tiers.rows;
  PyObject* self = table_type->tp_alloc(table_type, 0);
  if (self == nullptr) return nullptr;
  TableObject* object = as_table(self);
  new (&object->table) std::shared_ptr<const textgrid::ArrowTable>(std::move(table));
  object->failed = failed.release();
  object->rows = static_cast<Py_ssize_t>(rows);
  object->part = part;
  return self;
}

}  // namespace plinth
