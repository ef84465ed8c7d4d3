// Owned Python references. Rules of use: a PyRef owns exactly one reference
// and releases it when it goes; `release()` hands the reference on (to a
// return value or a stealing API); borrowed references stay bare pointers and
// are never stored beyond the call that lent them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace quillane::py {

class PyRef {
 public:
  PyRef() = default;
  // Takes ownership of a new reference (may be null after a failed call).
  static PyRef steal(PyObject* o) { return PyRef(o); }
  // Takes a new reference to a borrowed object.
  static PyRef borrow(PyObject* o) {
    Py_XINCREF(o);
    return PyRef(o);
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : o_(std::exchange(other.o_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(o_);
      o_ = std::exchange(other.o_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(o_); }

  PyObject* get() const { return o_; }
  PyObject* release() { return std::exchange(o_, nullptr); }
  explicit operator bool() const { return o_ != nullptr; }

 private:
  explicit PyRef(PyObject* o) : o_(o) {}
  PyObject* o_ = nullptr;
};

}  // namespace quillane::py
