// The module entry: multi-phase initialisation of `quillane`.
#include "lib/functions.h"
#include "lib/views.h"

namespace quillane::py {
namespace {

constexpr const char* kVersion = "0.11.0";

bool add_function(PyObject* module, PyMethodDef* def) {
  PyRef name = PyRef::steal(PyModule_GetNameObject(module));
  if (!name) return false;
  PyRef function = PyRef::steal(PyCMethod_New(def, module, name.get(), nullptr));
  return function && PyModule_AddObjectRef(module, def->ml_name, function.get()) == 0;
}

// Adds the attributes in their published order; the first failure stops.
int exec_module(PyObject* module) {
  if (PyModule_AddStringConstant(module, "__version__", kVersion) != 0) return -1;
  if (!add_function(module, &validate_def)) return -1;
  if (!add_function(module, &read_def)) return -1;
  if (!add_function(module, &default_rules_def)) return -1;
  if (!add_report_type(module)) return -1;
  if (!add_receipt_type(module)) return -1;
  if (!add_record_type(module)) return -1;
  if (!add_writer_type(module)) return -1;
  if (!add_commit_type(module)) return -1;
  return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "quillane",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace quillane::py

PyMODINIT_FUNC PyInit_quillane(void) { return PyModuleDef_Init(&quillane::py::module_def); }
