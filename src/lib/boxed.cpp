#include "lib/boxed.h"

#include <cstring>

#include "base/quoted.h"

namespace quillane::py {

bool add_type(PyObject* module, PyType_Spec* spec, PyTypeObject*& slot) {
  PyObject* type = PyType_FromModuleAndSpec(module, spec, nullptr);
  if (type == nullptr) return false;
  const char* dot = std::strrchr(spec->name, '.');
  const char* name = dot ? dot + 1 : spec->name;
  if (PyModule_AddObjectRef(module, name, type) != 0) {
    Py_DECREF(type);
    return false;
  }
  Py_XSETREF(slot, reinterpret_cast<PyTypeObject*>(type));
  return true;
}

std::string quoted_literal(std::string_view text) { return quoted_form(text); }

}  // namespace quillane::py
