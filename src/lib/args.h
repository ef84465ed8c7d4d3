// Typed extraction of Python arguments for the Writer surfaces. Each
// returns false with the conversion's exception set, noted with the
// argument's name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lib/convert.h"

namespace quillane::py {

// `o` may be null (argument not given) for the optional forms.
bool arg_str(PyObject* o, const char* name, std::string& out);
bool arg_opt_str(PyObject* o, const char* name, std::optional<std::string>& out);
bool arg_bool(PyObject* o, const char* name, bool& out);
bool arg_str_list(PyObject* o, const char* name, std::vector<std::string>& out);
bool arg_opt_str_list(PyObject* o, const char* name, std::optional<std::vector<std::string>>& out);

// Raises ValueError with `message`; returns null for `return raise(...)`.
inline PyObject* raise_value_error(const std::string& message) {
  PyErr_SetString(PyExc_ValueError, message.c_str());
  return nullptr;
}

}  // namespace quillane::py
