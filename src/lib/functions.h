// Method definitions of the module-level functions.
#pragma once

#include "lib/py_ref.h"

namespace quillane::py {

extern PyMethodDef default_rules_def;
extern PyMethodDef read_def;
extern PyMethodDef validate_def;

}  // namespace quillane::py
