// The module object: single-phase initialisation, created once per process
// and served to the first interpreter that imports it only.
#include <cstdint>

#include "cached.hpp"
#include "docstrings.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "ref.hpp"
#include "table_object.hpp"

namespace plinth {

namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "plinth",
    docs::module,
    0,        // no per-module state
    nullptr,  // the functions are added one by one, below
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* create_module() {
  if (!init_internal_fault_type() || !intern_parameter_names()) return nullptr;
  Ref module(PyModule_Create(&module_definition));
  if (!module) return nullptr;
  PyObject* name = PyModule_GetNameObject(module.get());
  if (name == nullptr) return nullptr;
  Ref module_name(name);
  for (PyMethodDef& definition : module_functions()) {
    Ref function(PyCFunction_NewEx(&definition, module.get(), module_name.get()));
    if (!function) return nullptr;
    if (PyModule_AddObjectRef(module.get(), definition.ml_name, function.get()) < 0) {
      return nullptr;
    }
  }
  // After the functions, so that they stay the head of the module's attributes.
  if (PyModule_AddObjectRef(module.get(), "InternalError", internal_fault_type_object()) < 0 ||
      PyModule_AddStringConstant(module.get(), "__version__", PLINTH_VERSION) < 0) {
    return nullptr;
  }
  if (!add_table_type(module.get())) return nullptr;
  return module.release();
}

PyObject* init_module() {
  const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id < 0) return nullptr;
  Cached& kept = cached();
  std::int64_t expected = Cached::kNoInterpreter;
  if (!kept.interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "plinth does not support sub-interpreters: it serves only the first "
                    "interpreter of the process that imported it");
    return nullptr;
  }
  if (kept.module == nullptr) {
    kept.module = create_module();
    if (kept.module == nullptr) return nullptr;
  }
  return Py_NewRef(kept.module);
}

}  // namespace

}  // namespace plinth

PyMODINIT_FUNC PyInit_plinth(void) {
  return plinth::guarded([] { return plinth::init_module(); });
}
