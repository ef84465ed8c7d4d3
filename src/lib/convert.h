// Conversion of Python arguments to C++ values. Each function returns false
// with a Python exception set (TypeError, OverflowError or the codec's error)
// when the value does not convert; `noted` attaches the parameter name.
#pragma once

#include "lib/py_ref.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillane::py {

// Attaches "while processing '<name>'" to the pending exception through its
// add_note method (left alone on interpreters without it) and returns false.
bool noted(const char* name);

bool to_utf8(PyObject* o, std::string& out);
bool to_u32(PyObject* o, std::uint32_t& out);
// True or False only: an int is a type error.
bool to_bool(PyObject* o, bool& out);
// A sequence of str that is not itself a str (nor bytes).
bool to_string_list(PyObject* o, std::vector<std::string>& out);
// A dict with str keys; each value converted by `convert`.
template <typename V, typename Convert>
bool to_string_dict(PyObject* o, std::map<std::string, V>& out, Convert convert) {
  if (!PyDict_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected a dict, got %.200s", Py_TYPE(o)->tp_name);
    return false;
  }
  // A snapshot of the items: converting a value may run user code that
  // changes the dict.
  PyRef items = PyRef::steal(PyDict_Items(o));
  if (!items) return false;
  const Py_ssize_t n = PyList_GET_SIZE(items.get());
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* pair = PyList_GET_ITEM(items.get(), i);
    std::string name;
    V converted;
    if (!to_utf8(PyTuple_GET_ITEM(pair, 0), name) || !convert(PyTuple_GET_ITEM(pair, 1), converted))
      return false;
    out.emplace(std::move(name), std::move(converted));
  }
  return true;
}

}  // namespace quillane::py
