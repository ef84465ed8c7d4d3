// Where C++ failures become Python exceptions.
#pragma once

#include "lib/py_ref.h"

namespace quillane::py {

// Runs `body` (returning a new reference or null with an exception set) and
// turns any C++ exception that escapes it into a Python exception.
template <typename Body>
PyObject* guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
    return nullptr;
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unexpected internal error");
    return nullptr;
  }
}

}  // namespace quillane::py
