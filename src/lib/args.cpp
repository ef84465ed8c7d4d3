#include "lib/args.h"

namespace quillane::py {

bool arg_str(PyObject* o, const char* name, std::string& out) { return to_utf8(o, out) || noted(name); }

bool arg_opt_str(PyObject* o, const char* name, std::optional<std::string>& out) {
  if (o == nullptr || o == Py_None) return true;
  out.emplace();
  return arg_str(o, name, *out);
}

bool arg_bool(PyObject* o, const char* name, bool& out) {
  if (o == nullptr) return true;
  return to_bool(o, out) || noted(name);
}

bool arg_str_list(PyObject* o, const char* name, std::vector<std::string>& out) {
  return to_string_list(o, out) || noted(name);
}

bool arg_opt_str_list(PyObject* o, const char* name, std::optional<std::vector<std::string>>& out) {
  if (o == nullptr || o == Py_None) return true;
  out.emplace();
  return arg_str_list(o, name, *out);
}

}  // namespace quillane::py
