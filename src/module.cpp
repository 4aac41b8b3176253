// Placeholder entry; replaced by the real module entry.
#include <Python.h>
static PyModuleDef velmora_def = {PyModuleDef_HEAD_INIT, "velmora", nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr};
PyMODINIT_FUNC PyInit_velmora() { return PyModuleDef_Init(&velmora_def); }
