// Commit: the outcome of committing one record.
#include "lib/boxed.h"
#include "lib/errors.h"
#include "lib/views.h"

namespace quillane::py {
namespace {

PyTypeObject* commit_type = nullptr;

const CommitInfo& info(PyObject* self) { return unbox<CommitInfo>(self); }

PyObject* get_id(PyObject* self, void*) { return to_str(info(self).id); }
PyObject* get_accepted(PyObject* self, void*) { return PyBool_FromLong(info(self).accepted); }
PyObject* get_result(PyObject* self, void*) { return to_str(info(self).accepted ? "accept" : "reject"); }
PyObject* get_reason(PyObject* self, void*) {
  if (!info(self).reason) Py_RETURN_NONE;
  return to_str(*info(self).reason);
}

PyObject* commit_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const CommitInfo& c = info(self);
    const std::string reason = c.reason ? "Some(" + quoted_literal(*c.reason) + ")" : "None";
    return to_str("Commit(id=" + c.id.substr(0, 12) + "..., accepted=" + (c.accepted ? "True" : "False") +
                  ", reason=" + reason + ")");
  });
}

PyGetSetDef commit_getset[] = {
    {"id", get_id, nullptr, "Content-address id of the committed record, lowercase hex.", nullptr},
    {"accepted", get_accepted, nullptr, "`True` if the record was accepted by replay, `False` if rejected.", nullptr},
    {"result", get_result, nullptr, "`\"accept\"` or `\"reject\"`.", nullptr},
    {"reason", get_reason, nullptr, "Verifier reason code when the record was rejected.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot commit_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "The outcome of committing one record.\n\n"
                    "The record is durably appended and immediately judged by replay. A\n"
                    "rejected record is still committed, as durable evidence that a proposal\n"
                    "was refused: `accepted` is then `False` and `reason` carries the\n"
                    "verifier's reason code. The writer does not raise for it.")},
    {Py_tp_getset, commit_getset},
    {Py_tp_repr, reinterpret_cast<void*>(commit_repr)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<CommitInfo>)},
    {0, nullptr},
};

PyType_Spec commit_spec = {"quillane.Commit", sizeof(Boxed<CommitInfo>), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
                           commit_slots};

}  // namespace

bool add_commit_type(PyObject* module) { return add_type(module, &commit_spec, commit_type); }

PyObject* new_commit_view(CommitInfo c) { return box<CommitInfo>(commit_type, std::move(c)); }

}  // namespace quillane::py
