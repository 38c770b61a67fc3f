#include "numpy_arrays.hpp"

#include <atomic>
#include <mutex>
#include <new>
#include <utility>
#include <variant>

#include "cached.hpp"
#include "errors.hpp"

namespace plinth {

namespace {

// NumPy's documented type numbers and flags, and the slots of its C-API
// table that this module calls (the same in NumPy 1.x and 2.x).
constexpr int kNpyBool = 0;
constexpr int kNpyUInt = 6;
constexpr int kNpyDouble = 12;
constexpr int kNpyArrayWriteable = 0x0400;
constexpr int kSlotArrayType = 2;
constexpr int kSlotDescrFromType = 45;
constexpr int kSlotNewFromDescr = 94;
constexpr int kSlotSetBaseObject = 282;

using DescrFromType = PyObject* (*)(int);
using NewFromDescr = PyObject* (*)(PyTypeObject*, PyObject*, int, const Py_intptr_t*,
                                   const Py_intptr_t*, void*, int, PyObject*);
using SetBaseObject = int (*)(PyObject*, PyObject*);

bool load_numpy_api() {
  Ref numpy(PyImport_ImportModule("numpy"));
  if (!numpy) return false;
  Ref version(PyObject_GetAttrString(numpy.get(), "__version__"));
  if (!version) return false;
  Ref lib(PyObject_GetAttrString(numpy.get(), "lib"));
  if (!lib) return false;
  Ref parsed(PyObject_CallMethod(lib.get(), "NumpyVersion", "O", version.get()));
  if (!parsed) return false;
  Ref major_object(PyObject_GetAttrString(parsed.get(), "major"));
  if (!major_object) return false;
  const long major = PyLong_AsLong(major_object.get());
  if (major == -1 && PyErr_Occurred()) return false;
  Ref multiarray(
      PyImport_ImportModule(major >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray"));
  if (!multiarray) return false;
  Ref capsule(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
  if (!capsule) return false;
  void* table = PyCapsule_GetPointer(capsule.get(), nullptr);
  if (table == nullptr) return false;
  // The capsule keeps the table alive; the capsule lives as long as we do.
  capsule.release();
  cached().numpy_api.store(static_cast<void**>(table), std::memory_order_release);
  return true;
}

void** get_numpy_api() {
  Cached& kept = cached();
  const bool ok = run_once(
      kept.numpy_mutex,
      [&kept] { return kept.numpy_api.load(std::memory_order_acquire) != nullptr; },
      load_numpy_api);
  if (!ok) {
    // An interrupt that lands in the import (KeyboardInterrupt, SystemExit)
    // is the caller's to see as it is; the next call tries the import again.
    if (PyErr_Occurred() != nullptr && !PyErr_ExceptionMatches(PyExc_Exception)) return nullptr;
    raise_internal_fault("Failed to access NumPy array API capsule");
    return nullptr;
  }
  return kept.numpy_api.load(std::memory_order_acquire);
}

// The owner of one column buffer: the array's base object. Destroying it
// releases the buffer, exactly once, with the vector of its element type.
using Column =
    std::variant<std::vector<double>, std::vector<textgrid::Flag>, std::vector<std::uint32_t>>;

struct SliceContainer {
  PyObject_HEAD Column column;
};

void slice_container_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<SliceContainer*>(self)->column.~Column();
  type->tp_free(self);
  Py_DECREF(type);  // instances of a heap type hold a reference to it
}

PyType_Slot slice_container_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(slice_container_dealloc)},
    {Py_tp_doc, const_cast<char*>("Owner of the buffer of a plinth result array.")},
    {0, nullptr},
};

PyType_Spec slice_container_spec = {
    "plinth.PySliceContainer",
    static_cast<int>(sizeof(SliceContainer)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slice_container_slots,
};

PyTypeObject* get_slice_container_type() {
  std::atomic<PyTypeObject*>& type = cached().array_owner_type;
  const bool ok = run_once(
      cached().array_owner_mutex,
      [&type] { return type.load(std::memory_order_acquire) != nullptr; },
      [&type] {
        PyObject* made = PyType_FromSpec(&slice_container_spec);
        if (made == nullptr) return false;
        type.store(reinterpret_cast<PyTypeObject*>(made), std::memory_order_release);
        return true;
      });
  if (!ok) {
    raise_internal_fault("Failed to create slice container");
    return nullptr;
  }
  return type.load(std::memory_order_acquire);
}

template <class T>
PyObject* make_array_of(std::vector<T>&& column, int type_number) {
  void** api = get_numpy_api();
  if (api == nullptr) return nullptr;
  PyTypeObject* container_type = get_slice_container_type();
  if (container_type == nullptr) return nullptr;

  // An empty vector has no buffer; a zero-length array still needs a
  // non-null pointer or NumPy would allocate (and own) one of its own.
  alignas(8) static unsigned char empty_buffer[8];
  const auto length = static_cast<Py_intptr_t>(column.size());
  void* data = column.empty() ? static_cast<void*>(empty_buffer) : column.data();

  SliceContainer* raw = PyObject_New(SliceContainer, container_type);
  if (raw == nullptr) {
    raise_internal_fault("Failed to create slice container");
    return nullptr;
  }
  new (&raw->column) Column(std::in_place_type<std::vector<T>>, std::move(column));
  Ref container(reinterpret_cast<PyObject*>(raw));

  auto descr_from_type = reinterpret_cast<DescrFromType>(api[kSlotDescrFromType]);
  auto new_from_descr = reinterpret_cast<NewFromDescr>(api[kSlotNewFromDescr]);
  auto set_base_object = reinterpret_cast<SetBaseObject>(api[kSlotSetBaseObject]);
  auto* array_type = static_cast<PyTypeObject*>(api[kSlotArrayType]);

  PyObject* descr = descr_from_type(type_number);
  if (descr == nullptr) {
    raise_internal_fault("Failed to create NumPy array");
    return nullptr;
  }
  const Py_intptr_t stride = sizeof(T);
  // The descriptor reference is stolen, also on failure.
  Ref array(
      new_from_descr(array_type, descr, 1, &length, &stride, data, kNpyArrayWriteable, nullptr));
  if (!array) {
    raise_internal_fault("Failed to create NumPy array");
    return nullptr;
  }
  // Steals the container reference, also on failure; from here the array
  // holds the container's only reference.
  if (set_base_object(array.get(), container.release()) < 0) {
    raise_internal_fault("Failed to create NumPy array");
    return nullptr;
  }
  return array.release();
}

}  // namespace

PyObject* make_array(std::vector<double>&& column) {
  return make_array_of(std::move(column), kNpyDouble);
}

PyObject* make_array(std::vector<textgrid::Flag>&& column) {
  return make_array_of(std::move(column), kNpyBool);
}

PyObject* make_array(std::vector<std::uint32_t>&& column) {
  return make_array_of(std::move(column), kNpyUInt);
}

}  // namespace plinth
