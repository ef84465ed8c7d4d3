// Record: one record of a log or receipt, read-only.
#include "base/enum_names.h"
#include "lib/boxed.h"
#include "lib/errors.h"
#include "lib/views.h"

namespace quillane::py {
namespace {

PyTypeObject* record_type = nullptr;

const Record& rec(PyObject* self) { return unbox<Record>(self); }

PyObject* get_id(PyObject* self, void*) { return to_str(hex_encode(rec(self).id)); }
PyObject* get_kind(PyObject* self, void*) { return to_str(name_of(rec(self).kind)); }
PyObject* get_time(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(rec(self).time); }
PyObject* get_author_id(PyObject* self, void*) { return to_str(rec(self).author.id); }
PyObject* get_author_type(PyObject* self, void*) { return to_str(name_of(rec(self).author.type)); }
PyObject* get_signed(PyObject* self, void*) { return PyBool_FromLong(rec(self).author.signature.has_value()); }
PyObject* get_evidence(PyObject* self, void*) { return to_str(name_of(rec(self).evidence)); }
PyObject* get_schema(PyObject* self, void*) { return to_str(hex_encode(rec(self).schema)); }

PyObject* get_refs(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    const auto& refs = rec(self).refs;
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(refs.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < refs.size(); ++i) {
      PyRef type = PyRef::steal(to_str(name_of(refs[i].type)));
      PyRef target = PyRef::steal(to_str(hex_encode(refs[i].target)));
      if (!type || !target) return nullptr;
      PyRef dict = PyRef::steal(PyDict_New());
      if (!dict || PyDict_SetItemString(dict.get(), "type", type.get()) != 0 ||
          PyDict_SetItemString(dict.get(), "target", target.get()) != 0)
        return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), dict.release());
    }
    return list.release();
  });
}

PyObject* get_payload_json(PyObject* self, void*) {
  const auto& data = rec(self).data;
  return PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(data.data()), static_cast<Py_ssize_t>(data.size()),
                              "replace");
}

PyObject* record_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const Record& r = rec(self);
    const std::string text = "Record(kind=" + quoted_literal(name_of(r.kind)) + ", time=" + std::to_string(r.time) +
                             ", id=" + hex_encode(r.id).substr(0, 12) + "...)";
    return to_str(text);
  });
}

PyGetSetDef record_getset[] = {
    {"id", get_id, nullptr, "Content-address id, lowercase hex.", nullptr},
    {"kind", get_kind, nullptr, "Record kind (e.g. `\"Candidate\"`, `\"Selection\"`, `\"Verdict\"`).", nullptr},
    {"time", get_time, nullptr, "Logical time (1-based commit counter).", nullptr},
    {"author_id", get_author_id, nullptr, "Author actor id.", nullptr},
    {"author_type", get_author_type, nullptr,
     "Author role (`\"User\"`, `\"Provider\"`, `\"System\"`, `\"Executor\"`, `\"Verifier\"`).", nullptr},
    {"signed", get_signed, nullptr, "Whether the author carries a signature.", nullptr},
    {"evidence", get_evidence, nullptr,
     "Evidence class (`\"Deterministic\"`, `\"Verified\"`, `\"Reported\"`, `\"Inferred\"`, `\"Assumed\"`).", nullptr},
    {"schema", get_schema, nullptr, "Schema id, lowercase hex.", nullptr},
    {"refs", get_refs, nullptr, "Typed edges to prior records, as `{\"type\": str, \"target\": hex}` dicts.", nullptr},
    {"payload_json", get_payload_json, nullptr,
     "The raw payload as a JSON string (parse with `json.loads`): the record's\n"
     "canonical `data` bytes decoded as UTF-8.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot record_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "One record in a receipt or log, a read-only view.\n\n"
                    "Enum-valued fields (`kind`, `author_type`, `evidence`, and each ref's\n"
                    "`type`) are variant names.")},
    {Py_tp_getset, record_getset},
    {Py_tp_repr, reinterpret_cast<void*>(record_repr)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<Record>)},
    {0, nullptr},
};

PyType_Spec record_spec = {"quillane.Record", sizeof(Boxed<Record>), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
                           record_slots};

}  // namespace

bool add_record_type(PyObject* module) { return add_type(module, &record_spec, record_type); }

PyObject* new_record_view(const Record& record) { return box<Record>(record_type, record); }

PyObject* record_list(std::span<const Record> records) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(records.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < records.size(); ++i) {
    PyObject* view = new_record_view(records[i]);
    if (view == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), view);
  }
  return list.release();
}

}  // namespace quillane::py
