// Python objects that own one C++ value. The value lives on the C++ heap
// and is destroyed with the object; the types are heap types created from
// specs when the module executes.
#pragma once

#include <new>
#include <string>
#include <utility>

#include "lib/py_ref.h"

namespace quillane::py {

template <typename T>
struct Boxed {
  PyObject_HEAD
  T* value;
};

template <typename T>
T& unbox(PyObject* self) {
  return *reinterpret_cast<Boxed<T>*>(self)->value;
}

// A new instance of `type` owning `value`; null with MemoryError on failure.
template <typename T>
PyObject* box(PyTypeObject* type, T value) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  try {
    reinterpret_cast<Boxed<T>*>(self)->value = new T(std::move(value));
  } catch (const std::bad_alloc&) {
    reinterpret_cast<Boxed<T>*>(self)->value = nullptr;
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  return self;
}

template <typename T>
void boxed_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<Boxed<T>*>(self)->value;
  reinterpret_cast<Boxed<T>*>(self)->value = nullptr;
  type->tp_free(self);
  Py_DECREF(type);
}

// Creates a heap type from `spec` and adds it to the module under its short
// name; keeps a reference in `slot` for instance creation.
bool add_type(PyObject* module, PyType_Spec* spec, PyTypeObject*& slot);

// Text helpers for getters.
inline PyObject* to_str(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// A quoted string literal as Rust's Debug formatting writes it, used in
// messages and reprs: double quotes, backslash escapes, \u{..} for others.
std::string quoted_literal(std::string_view text);

}  // namespace quillane::py
