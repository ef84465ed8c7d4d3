// Report: the result of validating a receipt, read-only.
#include "base/enum_names.h"
#include "lib/boxed.h"
#include "lib/errors.h"
#include "lib/views.h"
#include "receipt/report.h"

namespace quillane::py {
namespace {

PyTypeObject* report_type = nullptr;

const Report& rep(PyObject* self) { return unbox<Report>(self); }

// "clean", "tainted" or "invalid".
std::string status_word(ValidationStatus status) {
  switch (status) {
    case ValidationStatus::Clean: return "clean";
    case ValidationStatus::Tainted: return "tainted";
    case ValidationStatus::Invalid: break;
  }
  return "invalid";
}

// A list of hex ids, ascending (the sets are ordered).
PyObject* id_list(const std::set<RecordId>& ids) {
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return nullptr;
  for (const RecordId& id : ids) {
    PyRef s = PyRef::steal(to_str(hex_encode(id)));
    if (!s || PyList_Append(list.get(), s.get()) != 0) return nullptr;
  }
  return list.release();
}

bool set_item(PyObject* dict, const char* key, PyObject* value) {
  PyRef owned = PyRef::steal(value);
  return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

PyObject* get_status(PyObject* self, void*) { return to_str(status_word(rep(self).status)); }
PyObject* get_is_clean(PyObject* self, void*) { return PyBool_FromLong(rep(self).status == ValidationStatus::Clean); }
PyObject* get_reason(PyObject* self, void*) {
  if (!rep(self).reason) Py_RETURN_NONE;
  return to_str(name_of(*rep(self).reason));
}
PyObject* get_problem(PyObject* self, void*) {
  if (!rep(self).problem) Py_RETURN_NONE;
  return to_str(*rep(self).problem);
}
PyObject* get_spec_version(PyObject* self, void*) { return to_str(rep(self).spec_version); }
PyObject* get_record_count(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(rep(self).record_count); }
PyObject* get_checked(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(rep(self).checked_records); }
PyObject* get_last_time(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(rep(self).last_time); }
PyObject* get_head_hash(PyObject* self, void*) { return to_str(hex_encode(rep(self).head_hash)); }
PyObject* get_rules_hash(PyObject* self, void*) { return to_str(hex_encode(rep(self).rules_hash)); }
PyObject* get_retracted(PyObject* self, void*) { return guarded([&] { return id_list(rep(self).retracted); }); }
PyObject* get_tainted(PyObject* self, void*) { return guarded([&] { return id_list(rep(self).tainted); }); }

PyObject* get_standing(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    const StandingSection& s = rep(self).standing;
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict || !set_item(dict.get(), "compromised", id_list(s.compromised)) ||
        !set_item(dict.get(), "unsound", id_list(s.unsound)))
      return nullptr;
    PyRef restorations = PyRef::steal(PyDict_New());
    if (!restorations) return nullptr;
    for (const auto& [id, restorers] : s.restorations)
      if (!set_item(restorations.get(), hex_encode(id).c_str(), id_list(restorers))) return nullptr;
    if (PyDict_SetItemString(dict.get(), "restorations", restorations.get()) != 0) return nullptr;
    return dict.release();
  });
}

PyObject* profile_dict(const ProfileResult& p) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  if (!set_item(dict.get(), "id", to_str(p.id)) || !set_item(dict.get(), "hash", to_str(hex_encode(p.hash))) ||
      !set_item(dict.get(), "status", to_str(profile_status_name(p.status))) ||
      !set_item(dict.get(), "declared", PyBool_FromLong(p.declared)) ||
      !set_item(dict.get(), "declaration_matches",
                p.declaration_matches ? PyBool_FromLong(*p.declaration_matches) : Py_NewRef(Py_None)) ||
      !set_item(dict.get(), "met", PyBool_FromLong(p.met())))
    return nullptr;
  PyRef clauses = PyRef::steal(PyList_New(0));
  if (!clauses) return nullptr;
  for (const ClauseResult& c : p.clauses) {
    PyRef clause = PyRef::steal(PyDict_New());
    if (!clause || !set_item(clause.get(), "id", to_str(c.id)) ||
        !set_item(clause.get(), "passed", PyBool_FromLong(c.passed)) ||
        !set_item(clause.get(), "detail", to_str(c.detail)) || PyList_Append(clauses.get(), clause.get()) != 0)
      return nullptr;
  }
  if (PyDict_SetItemString(dict.get(), "clauses", clauses.get()) != 0) return nullptr;
  return dict.release();
}

PyObject* get_profiles(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    PyRef list = PyRef::steal(PyList_New(0));
    if (!list) return nullptr;
    for (const ProfileResult& p : rep(self).profiles) {
      PyRef d = PyRef::steal(profile_dict(p));
      if (!d || PyList_Append(list.get(), d.get()) != 0) return nullptr;
    }
    return list.release();
  });
}

PyObject* report_repr(PyObject* self) {
  return guarded([&] {
    const Report& r = rep(self);
    return to_str("Report(status=" + quoted_literal(status_word(r.status)) +
                  ", records=" + std::to_string(r.record_count) + ", spec_version=" + quoted_literal(r.spec_version) +
                  ")");
  });
}

PyObject* report_str(PyObject* self) { return guarded([&] { return to_str(report_text(rep(self))); }); }

PyGetSetDef report_getset[] = {
    {"status", get_status, nullptr, "`\"clean\"`, `\"tainted\"`, or `\"invalid\"`.", nullptr},
    {"is_clean", get_is_clean, nullptr, "True only for a `\"clean\"` receipt.", nullptr},
    {"reason", get_reason, nullptr, "Verifier reason code for the first violation when replay failed.", nullptr},
    {"problem", get_problem, nullptr,
     "Structural problem (unparseable bytes, unsupported spec version) when\n"
     "validation could not even reach replay.",
     nullptr},
    {"spec_version", get_spec_version, nullptr, "Spec version the receipt declared (empty string if unparseable).",
     nullptr},
    {"record_count", get_record_count, nullptr, "Number of records in the receipt.", nullptr},
    {"checked_records", get_checked, nullptr, "Number of records replay checked.", nullptr},
    {"last_time", get_last_time, nullptr, "Logical time of the last record.", nullptr},
    {"head_hash", get_head_hash, nullptr,
     "Lowercase hex of the SHA-256 head hash (compare against an anchored head\nattestation).", nullptr},
    {"rules_hash", get_rules_hash, nullptr,
     "Lowercase hex of the SHA-256 rules hash (compare against rules agreed out\nof band).", nullptr},
    {"retracted", get_retracted, nullptr, "Hex ids of retracted records.", nullptr},
    {"tainted", get_tainted, nullptr, "Hex ids of tainted records.", nullptr},
    {"standing", get_standing, nullptr,
     "The replay-derived standing section (spec 0.3) as a dict:\n"
     "`{\"compromised\": [hex], \"unsound\": [hex], \"restorations\": {hex: [hex]}}`.",
     nullptr},
    {"profiles", get_profiles, nullptr,
     "Profile results, one dict per profile in report order:\n"
     "`{\"id\": str, \"hash\": hex, \"status\": \"Conformant\" | \"NonConformant\" |\n"
     "\"Unknown\", \"declared\": bool, \"declaration_matches\": bool | None,\n"
     "\"met\": bool, \"clauses\": [{\"id\": str, \"passed\": bool, \"detail\": str}]}`.\n\n"
     "A declaration is never trusted: every declared profile is re-evaluated.\n"
     "A profile result is a report alongside the verdict; it never changes\n"
     "`status` or `reason`.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot report_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "The result of validating a receipt, a read-only view.\n\n"
                    "Every field is re-derived by validation, never trusted from the receipt.")},
    {Py_tp_getset, report_getset},
    {Py_tp_repr, reinterpret_cast<void*>(report_repr)},
    {Py_tp_str, reinterpret_cast<void*>(report_str)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<Report>)},
    {0, nullptr},
};

PyType_Spec report_spec = {"quillane.Report", sizeof(Boxed<Report>), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
                           report_slots};

}  // namespace

bool add_report_type(PyObject* module) { return add_type(module, &report_spec, report_type); }

PyObject* new_report_view(Report report) { return box<Report>(report_type, std::move(report)); }

}  // namespace quillane::py
