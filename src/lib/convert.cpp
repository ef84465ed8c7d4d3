#include "lib/convert.h"

namespace quillane::py {

namespace {

void add_note(PyObject* exception, const char* name) {
  PyRef note = PyRef::steal(PyUnicode_FromFormat("while processing '%s'", name));
  PyRef add = PyRef::steal(PyObject_GetAttrString(exception, "add_note"));
  if (note && add) PyRef ignored = PyRef::steal(PyObject_CallOneArg(add.get(), note.get()));
  PyErr_Clear();
}

}  // namespace

bool noted(const char* name) {
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* exception = PyErr_GetRaisedException();
  if (exception != nullptr) add_note(exception, name);
  PyErr_SetRaisedException(exception);
#else
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    add_note(value, name);
  }
  PyErr_Restore(type, value, traceback);
#endif
  return false;
}

bool to_utf8(PyObject* o, std::string& out) {
  if (!PyUnicode_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected str, got %.200s", Py_TYPE(o)->tp_name);
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(o, &size);
  if (data == nullptr) return false;
  out.assign(data, static_cast<std::size_t>(size));
  return true;
}

bool to_u32(PyObject* o, std::uint32_t& out) {
  if (!PyLong_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected int, got %.200s", Py_TYPE(o)->tp_name);
    return false;
  }
  const unsigned long long v = PyLong_AsUnsignedLongLong(o);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  if (v > UINT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "int too large to convert to a 32-bit unsigned integer");
    return false;
  }
  out = static_cast<std::uint32_t>(v);
  return true;
}

bool to_bool(PyObject* o, bool& out) {
  if (!PyBool_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected bool, got %.200s", Py_TYPE(o)->tp_name);
    return false;
  }
  out = o == Py_True;
  return true;
}

bool to_string_list(PyObject* o, std::vector<std::string>& out) {
  if (PyUnicode_Check(o) || PyBytes_Check(o) || PyByteArray_Check(o) || !PySequence_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected a sequence of str, got %.200s", Py_TYPE(o)->tp_name);
    return false;
  }
  PyRef items = PyRef::steal(PySequence_Fast(o, "expected a sequence of str"));
  if (!items) return false;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
  out.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    std::string s;
    if (!to_utf8(PySequence_Fast_GET_ITEM(items.get(), i), s)) return false;
    out.push_back(std::move(s));
  }
  return true;
}

}  // namespace quillane::py
