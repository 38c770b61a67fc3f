// Module frame; the six functions land with the Python layer.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyModuleDef plinth_module = {
    PyModuleDef_HEAD_INIT, "plinth",
    "Python module for TextGrid file manipulation.", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

PyMODINIT_FUNC PyInit_plinth(void) { return PyModule_Create(&plinth_module); }
