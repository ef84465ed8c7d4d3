// read() and validate(): the offline side, over receipt bytes.
#include "lib/convert.h"
#include "lib/errors.h"
#include "lib/functions.h"
#include "lib/views.h"
#include "receipt/validate.h"

namespace quillane::py {
namespace {

// The bytes of a `bytes` argument, borrowed from the object.
bool bytes_arg(PyObject* arg, std::string_view& out) {
  if (!PyBytes_Check(arg)) {
    PyErr_Format(PyExc_TypeError, "expected bytes, got %.200s", Py_TYPE(arg)->tp_name);
    return noted("data");
  }
  out = std::string_view(PyBytes_AS_STRING(arg), static_cast<std::size_t>(PyBytes_GET_SIZE(arg)));
  return true;
}

PyObject* read(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* kwlist[] = {"data", nullptr};
    PyObject* data = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:read", const_cast<char**>(kwlist), &data)) return nullptr;
    std::string_view bytes;
    if (!bytes_arg(data, bytes)) return nullptr;
    auto receipt = Receipt::from_bytes(bytes);
    if (!receipt) {
      PyErr_Format(PyExc_ValueError, "not a parseable receipt: %s", receipt.error().message.c_str());
      return nullptr;
    }
    return new_receipt_view(std::move(receipt).value());
  });
}

// None, a str, or a sequence of str.
bool requested_profiles(PyObject* arg, std::vector<std::string>& out) {
  if (arg == nullptr || arg == Py_None) return true;
  if (PyUnicode_Check(arg)) {
    out.emplace_back();
    return to_utf8(arg, out.back());
  }
  if (PySequence_Check(arg) && !PyBytes_Check(arg) && !PyByteArray_Check(arg)) {
    PyRef items = PyRef::steal(PySequence_Fast(arg, ""));
    if (items) {
      bool all_text = true;
      const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
      for (Py_ssize_t i = 0; i < n && all_text; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        all_text = PyUnicode_Check(item);
        if (all_text) {
          out.emplace_back();
          if (!to_utf8(item, out.back())) return false;
        }
      }
      if (all_text) return true;
    } else {
      PyErr_Clear();
    }
  }
  PyErr_SetString(PyExc_ValueError, "require_profile must be a profile id (str) or a list of ids");
  return false;
}

PyObject* validate(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* kwlist[] = {"data", "require_profile", nullptr};
    PyObject *data = nullptr, *require = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:validate", const_cast<char**>(kwlist), &data, &require))
      return nullptr;
    std::string_view bytes;
    if (!bytes_arg(data, bytes)) return nullptr;
    std::vector<std::string> requested;
    if (!requested_profiles(require, requested)) return nullptr;
    return new_report_view(validate_with_profiles(bytes, ValidationLimits{}, requested));
  });
}

}  // namespace

PyMethodDef read_def = {
    "read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read)), METH_VARARGS | METH_KEYWORDS,
    "read($module, /, data)\n--\n\n"
    "Parse a receipt for inspection.\n\n"
    "Raises ValueError if the bytes are not a parseable receipt. Reading does\n"
    "not verify anything: use `validate` for the decision.",
};

PyMethodDef validate_def = {
    "validate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(validate)), METH_VARARGS | METH_KEYWORDS,
    "validate($module, /, data, require_profile=None)\n--\n\n"
    "Validate receipt bytes offline: replay every record from nothing,\n"
    "re-derive every id and verdict, and return a Report (clean, tainted or\n"
    "invalid). A bad receipt gives an invalid Report, never an exception.\n\n"
    "require_profile: a profile id or a list of ids to evaluate besides the\n"
    "ones the receipt declares; an unknown id is reported as Unknown.",
};

}  // namespace quillane::py
