// Writer: records evolution into a log directory through one LogWriter.
#include <sodium.h>

#include "base/enum_names.h"
#include "base/schema.h"
#include "lib/boxed.h"
#include "lib/errors.h"
#include "lib/query_methods.h"
#include "lib/views.h"
#include "lib/text.h"
#include "lib/writer_core.h"
#include "profiles/registry.h"

namespace quillane::py {
namespace {

PyTypeObject* writer_type = nullptr;

// A signer value: 64 hex characters (trimmed), or 32 bytes given as bytes or
// any sequence of integers 0 to 255.
std::optional<std::array<std::uint8_t, 32>> signer_seed(const std::string& actor, PyObject* value) {
  std::array<std::uint8_t, 32> seed{};
  const std::string who = quoted_literal(actor);
  if (PyUnicode_Check(value)) {
    std::string text;
    if (!to_utf8(value, text)) return std::nullopt;
    auto key = hex_decode(trim_unicode_space(text));
    if (!key) {
      raise_value_error("signer for " + who + ": expected 64 hex characters or 32 bytes");
      return std::nullopt;
    }
    std::copy(key->begin(), key->end(), seed.begin());
    return seed;
  }
  std::vector<std::uint8_t> bytes;
  bool convertible = false;
  if (PyBytes_Check(value) || PyByteArray_Check(value)) {
    const char* data = PyBytes_Check(value) ? PyBytes_AS_STRING(value) : PyByteArray_AS_STRING(value);
    const Py_ssize_t n = PyBytes_Check(value) ? PyBytes_GET_SIZE(value) : PyByteArray_GET_SIZE(value);
    bytes.assign(data, data + n);
    convertible = true;
  } else if (PySequence_Check(value)) {
    PyRef items = PyRef::steal(PySequence_Fast(value, ""));
    if (items) {
      convertible = true;
      const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
      for (Py_ssize_t i = 0; i < n && convertible; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        const long v = PyLong_Check(item) ? PyLong_AsLong(item) : -1;
        if (PyErr_Occurred()) PyErr_Clear();
        convertible = v >= 0 && v <= 255;
        if (convertible) bytes.push_back(static_cast<std::uint8_t>(v));
      }
    } else {
      PyErr_Clear();
    }
  }
  if (!convertible) {
    raise_value_error("signer for " + who + ": expected a hex string or bytes");
    return std::nullopt;
  }
  if (bytes.size() != 32) {
    raise_value_error("signer for " + who + ": expected exactly 32 bytes");
    return std::nullopt;
  }
  std::copy(bytes.begin(), bytes.end(), seed.begin());
  return seed;
}

PyObject* writer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* kwlist[] = {"log_dir", "rules", "signers", nullptr};
    PyObject *dir_arg = nullptr, *rules_arg = nullptr, *signers_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O:Writer", const_cast<char**>(kwlist), &dir_arg, &rules_arg,
                                     &signers_arg))
      return nullptr;
    std::string dir, rules_text;
    if (!arg_str(dir_arg, "log_dir", dir) || !arg_str(rules_arg, "rules", rules_text)) return nullptr;
    std::map<std::string, PyObject*> signer_values;  // borrowed from the snapshot below
    PyRef signer_items;
    if (signers_arg != nullptr && signers_arg != Py_None) {
      if (!PyDict_Check(signers_arg)) {
        PyErr_Format(PyExc_TypeError, "expected a dict, got %.200s", Py_TYPE(signers_arg)->tp_name);
        return noted("signers"), nullptr;
      }
      signer_items = PyRef::steal(PyDict_Items(signers_arg));
      if (!signer_items) return nullptr;
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(signer_items.get()); ++i) {
        PyObject* pair = PyList_GET_ITEM(signer_items.get(), i);
        std::string actor;
        if (!to_utf8(PyTuple_GET_ITEM(pair, 0), actor)) return noted("signers"), nullptr;
        signer_values[actor] = PyTuple_GET_ITEM(pair, 1);
      }
    }
    auto rules = decode_rules(rules_text);
    if (!rules) return raise_value_error("invalid rules JSON: " + rules.error().message);
    std::map<std::string, Ed25519Signer> signers;
    for (const auto& [actor, value] : signer_values) {
      if (!rules->author_roles.contains(actor))
        return raise_value_error("signer " + quoted_literal(actor) + " is not registered in the rules' author_roles");
      auto seed = signer_seed(actor, value);
      if (!seed) return nullptr;
      signers.emplace(actor, Ed25519Signer::from_secret_bytes(*seed));
      sodium_memzero(seed->data(), seed->size());
    }
    auto log = LogWriter::open(dir, *rules);
    if (!log) {
      PyErr_Format(PyExc_RuntimeError, "cannot open log: %s", log.error().message().c_str());
      return nullptr;
    }
    // Opening replayed the whole log under these rules; the state that
    // replay built is the one verifying and building again would give.
    State state = log->state();
    return box<WriterCore>(type, WriterCore{std::move(log).value(), std::move(rules).value(), std::move(state),
                                            std::move(signers), PyThread_get_thread_ident()});
  });
}

Py_ssize_t writer_len(PyObject* self) {
  WriterCore* w = writer_core(self);
  return w ? static_cast<Py_ssize_t>(w->log.size()) : -1;
}

PyObject* writer_repr(PyObject* self) {
  WriterCore* w = writer_core(self);
  if (!w) return nullptr;
  return to_str("Writer(records=" + std::to_string(w->log.size()) + ")");
}

PyObject* get_head(PyObject* self, void*) {
  WriterCore* w = writer_core(self);
  if (!w) return nullptr;
  const auto records = w->log.records();
  return to_str(records.empty() ? std::string(64, '0') : hex_encode(records.back().id));
}

PyObject* get_records(PyObject* self, void*) {
  WriterCore* w = writer_core(self);
  if (!w) return nullptr;
  return guarded([&] { return record_list(w->log.records()); });
}

PyObject* writer_receipt(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    WriterCore* w = writer_core(self);
    if (!w) return nullptr;
    static const char* kwlist[] = {"profiles", nullptr};
    PyObject* profiles_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:receipt", const_cast<char**>(kwlist), &profiles_arg))
      return nullptr;
    std::optional<std::vector<std::string>> profiles;
    if (!arg_opt_str_list(profiles_arg, "profiles", profiles)) return nullptr;
    Receipt receipt = Receipt::make(w->log.records(), w->rules);
    if (profiles) {
      auto declared = with_declared_profiles(std::move(receipt), *profiles);
      if (!declared) return raise_value_error(declared.error().message);
      receipt = std::move(declared).value();
    }
    auto bytes = receipt.to_bytes();
    if (!bytes) {
      PyErr_Format(PyExc_RuntimeError, "cannot serialize receipt: %s", bytes.error().message.c_str());
      return nullptr;
    }
    return PyBytes_FromStringAndSize(bytes->data(), static_cast<Py_ssize_t>(bytes->size()));
  });
}

// The log is known to verify under the writer's rules, and the writer's
// state is what its replay builds: the index reuses it.
struct WriterQueries {
  static bool ready(PyObject* self) { return writer_core(self) != nullptr; }
  static std::optional<Queries> queries(PyObject* self) {
    WriterCore* w = writer_core(self);
    return Queries::from_verified(w->log.records(), w->state);
  }
};

#define WRITER_METHOD(name, fn, doc) \
  {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)), METH_VARARGS | METH_KEYWORDS, doc}

PyMethodDef writer_methods[] = {
    WRITER_METHOD("request", writer_request, kRequestDoc),
    WRITER_METHOD("requirement", writer_requirement, kRequirementDoc),
    WRITER_METHOD("candidate", writer_candidate, kCandidateDoc),
    WRITER_METHOD("evaluate", writer_evaluate, kEvaluateDoc),
    WRITER_METHOD("select", writer_select, kSelectDoc),
    WRITER_METHOD("retract", writer_retract, kRetractDoc),
    WRITER_METHOD("receipt", writer_receipt,
                  "receipt($self, /, profiles=None)\n--\n\n"
                  "Export the log as a portable receipt (canonical JSON bytes), to feed\n"
                  "to `validate` or `read` or any independent verifier.\n\n"
                  "profiles (spec 0.4) declares the named profiles the receipt claims,\n"
                  "for example [\"quillane-core-v1\"], with the version and hash this\n"
                  "package knows. The declaration is not evaluated here: every validator\n"
                  "re-checks it, so a false claim exports and then reports NonConformant.\n"
                  "An unknown or repeated id raises ValueError."),
    QUILLANE_QUERY_METHODS(WriterQueries),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef writer_getset[] = {
    {"head", get_head, nullptr, "The current head id, lowercase hex (all-zero for an empty log).", nullptr},
    {"records", get_records, nullptr, "The committed records in order (subjects and verdicts).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot writer_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Writer(log_dir, rules, signers=None)\n--\n\n"
                    "Records evolution to a persistent, single-writer log.\n\n"
                    "A thin wrapper over the log writer: it holds the directory's exclusive\n"
                    "`.lock`, re-verifies the existing log on open, and replays every\n"
                    "commit. `rules` are the verifier rules the log is committed under, as\n"
                    "a JSON string (the same object a receipt embeds under `rules`).\n"
                    "`signers` maps actor ids to Ed25519 secret keys (64 hex characters or\n"
                    "32 bytes); those actors' records are signed.\n\n"
                    "Concurrency: the log is single-writer. Candidates may be generated\n"
                    "concurrently but are recorded serially through one Writer, from the\n"
                    "thread that created it.")},
    {Py_tp_new, reinterpret_cast<void*>(writer_new)},
    {Py_tp_methods, writer_methods},
    {Py_tp_getset, writer_getset},
    {Py_sq_length, reinterpret_cast<void*>(writer_len)},
    {Py_tp_repr, reinterpret_cast<void*>(writer_repr)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<WriterCore>)},
    {0, nullptr},
};

PyType_Spec writer_spec = {"quillane.Writer", sizeof(Boxed<WriterCore>), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, writer_slots};

}  // namespace

bool add_writer_type(PyObject* module) { return add_type(module, &writer_spec, writer_type); }

WriterCore* writer_core(PyObject* self) {
  auto* boxed = reinterpret_cast<Boxed<WriterCore>*>(self);
  if (boxed->value == nullptr) {
    PyErr_SetString(PyExc_RuntimeError, "quillane.Writer is not initialised");
    return nullptr;
  }
  if (boxed->value->thread != PyThread_get_thread_ident()) {
    PyErr_SetString(PyExc_RuntimeError, "quillane.Writer is unsendable, but sent to another thread");
    return nullptr;
  }
  return boxed->value;
}

std::optional<Author> resolve_author(const WriterCore& w, const std::string& author) {
  auto it = w.rules.author_roles.find(author);
  if (it == w.rules.author_roles.end()) {
    raise_value_error("author " + quoted_literal(author) + " is not registered in the rules' author_roles");
    return std::nullopt;
  }
  return Author{author, it->second, std::nullopt};
}

bool parse_id(const std::string& text, RecordId& out) {
  auto id = hex_decode(text);
  if (!id) {
    raise_value_error("invalid record id " + quoted_literal(text));
    return false;
  }
  out = *id;
  return true;
}

PyObject* do_commit(WriterCore& w, Author author, Kind kind, std::string_view schema_name, std::string data,
                    std::vector<Ref> refs) {
  PendingRecord pending;
  pending.author = std::move(author);
  pending.kind = kind;
  pending.schema = schema_id(schema_name);
  pending.data.assign(data.begin(), data.end());
  pending.refs = std::move(refs);
  pending.space = w.rules.space;
  pending.thread = w.rules.space;
  auto signer = w.signers.find(pending.author.id);
  auto outcome = signer == w.signers.end() ? w.log.commit(std::move(pending), w.rules, w.state)
                                           : w.log.commit_signed(std::move(pending), w.rules, w.state, signer->second);
  if (!outcome) {
    PyErr_Format(PyExc_RuntimeError, "commit failed: %s", outcome.error().message().c_str());
    return nullptr;
  }
  CommitInfo info;
  info.id = hex_encode(outcome->id);
  info.accepted = outcome->result == VerdictResult::Accept;
  if (outcome->reason) info.reason = std::string(name_of(*outcome->reason));
  return new_commit_view(std::move(info));
}

}  // namespace quillane::py
