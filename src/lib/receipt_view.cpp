// Receipt: a parsed receipt for inspection, and the named queries over it.
#include "lib/boxed.h"
#include "lib/errors.h"
#include "lib/query_methods.h"
#include "lib/views.h"

namespace quillane::py {
namespace {

PyTypeObject* receipt_type = nullptr;

const Receipt& rcpt(PyObject* self) { return unbox<Receipt>(self); }

PyObject* get_spec_version(PyObject* self, void*) { return to_str(rcpt(self).spec_version); }
PyObject* get_records(PyObject* self, void*) { return guarded([&] { return record_list(rcpt(self).records); }); }

Py_ssize_t receipt_len(PyObject* self) { return static_cast<Py_ssize_t>(rcpt(self).records.size()); }

PyObject* receipt_repr(PyObject* self) {
  return guarded([&] {
    return to_str("Receipt(spec_version=" + quoted_literal(rcpt(self).spec_version) +
                  ", records=" + std::to_string(rcpt(self).records.size()) + ")");
  });
}

// Replays the receipt under its own rules, as carried.
struct ReceiptQueries {
  static bool ready(PyObject*) { return true; }
  static std::optional<Queries> queries(PyObject* self) {
    const Receipt& r = rcpt(self);
    auto made = Queries::make(r.records, r.rules);
    if (auto* error = std::get_if<QueryError>(&made)) {
      PyErr_SetString(PyExc_ValueError, error->message().c_str());
      return std::nullopt;
    }
    return std::get<Queries>(std::move(made));
  }
};

PyMethodDef receipt_methods[] = {
    QUILLANE_QUERY_METHODS(ReceiptQueries),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef receipt_getset[] = {
    {"spec_version", get_spec_version, nullptr, "Spec version the receipt declares (e.g. `\"0.3\"`).", nullptr},
    {"records", get_records, nullptr, "The records in order, from genesis (subjects and verdicts).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot receipt_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "A parsed receipt, for inspection.\n\n"
                    "Reading does not verify: `validate` gives the Clean / Tainted / Invalid\n"
                    "decision. A record's fields are as recorded; only replay confirms that\n"
                    "they are consistent.\n\n"
                    "The receipt answers the RFC-0002 named query set (`descent`,\n"
                    "`descendants`, `siblings`, `frontier`, `standing`, `evidence`,\n"
                    "`selected`). Those methods replay the receipt first and raise\n"
                    "`ValueError` if it does not verify.")},
    {Py_tp_getset, receipt_getset},
    {Py_tp_methods, receipt_methods},
    {Py_sq_length, reinterpret_cast<void*>(receipt_len)},
    {Py_tp_repr, reinterpret_cast<void*>(receipt_repr)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<Receipt>)},
    {0, nullptr},
};

PyType_Spec receipt_spec = {"quillane.Receipt", sizeof(Boxed<Receipt>), 0,
                            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
                            receipt_slots};

}  // namespace

bool add_receipt_type(PyObject* module) { return add_type(module, &receipt_spec, receipt_type); }

PyObject* new_receipt_view(Receipt receipt) { return box<Receipt>(receipt_type, std::move(receipt)); }

}  // namespace quillane::py
