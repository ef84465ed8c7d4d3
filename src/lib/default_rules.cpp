// default_rules(): the Python face of the starter rules.
#include <variant>

#include "lib/convert.h"
#include "lib/errors.h"
#include "lib/functions.h"
#include "lib/starter_rules.h"

namespace quillane::py {
namespace {

bool to_key_lists(PyObject* o, std::vector<std::string>& out) { return to_string_list(o, out); }

// Converts the arguments in parameter order, noting the failing parameter.
bool convert_args(PyObject* authors, PyObject* max_context, PyObject* admins, PyObject* reaffirmers,
                  PyObject* signed_kinds, PyObject* author_keys, StarterRulesArgs& args) {
  if (!to_string_dict(authors, args.authors, to_utf8)) return noted("authors");
  if (max_context != nullptr && !to_u32(max_context, args.max_context)) return noted("max_context");
  if (admins != nullptr && admins != Py_None && !to_string_list(admins, args.admins)) return noted("admins");
  if (reaffirmers != nullptr && reaffirmers != Py_None && !to_string_list(reaffirmers, args.reaffirmers))
    return noted("reaffirmers");
  if (signed_kinds != nullptr && !to_bool(signed_kinds, args.signed_kinds)) return noted("signed");
  if (author_keys != nullptr && author_keys != Py_None) {
    args.author_keys.emplace();
    if (!to_string_dict(author_keys, *args.author_keys, to_key_lists)) return noted("author_keys");
  }
  return true;
}

PyObject* default_rules(PyObject*, PyObject* positional, PyObject* keywords) {
  return guarded([&]() -> PyObject* {
    static const char* kwlist[] = {"authors", "max_context", "admins", "reaffirmers", "signed", "author_keys",
                                   nullptr};
    PyObject *authors = nullptr, *max_context = nullptr, *admins = nullptr, *reaffirmers = nullptr,
             *signed_kinds = nullptr, *author_keys = nullptr;
    if (!PyArg_ParseTupleAndKeywords(positional, keywords, "O|OOOOO:default_rules", const_cast<char**>(kwlist),
                                     &authors, &max_context, &admins, &reaffirmers, &signed_kinds, &author_keys))
      return nullptr;
    StarterRulesArgs args;
    if (!convert_args(authors, max_context, admins, reaffirmers, signed_kinds, author_keys, args)) return nullptr;
    auto built = build_starter_rules(args);
    if (auto* error = std::get_if<StarterRulesError>(&built)) {
      PyErr_SetString(error->encoding ? PyExc_RuntimeError : PyExc_ValueError, error->message.c_str());
      return nullptr;
    }
    const std::string& text = std::get<std::string>(built);
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

}  // namespace

PyMethodDef default_rules_def = {
    "default_rules",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(default_rules)),
    METH_VARARGS | METH_KEYWORDS,
    "default_rules($module, /, authors, max_context=200, admins=None, reaffirmers=None, signed=False,"
    " author_keys=None)\n--\n\n"
    "Build a starter rules object and return its JSON text.\n\n"
    "authors: dict mapping each actor id to its role (user, provider, system,\n"
    "    executor or verifier, in any ASCII case); at least one entry.\n"
    "max_context: the declared bound on context records, 0 to 4294967295.\n"
    "admins: actors allowed to retract records they did not author.\n"
    "reaffirmers: when non-empty, the only actors allowed to author\n"
    "    reaffirming selections.\n"
    "signed: when true, Retraction, Candidate, Evaluation, Selection and\n"
    "    Requirement records must be signed.\n"
    "author_keys: dict mapping actor ids to lists of Ed25519 public keys,\n"
    "    each 64 lowercase hex characters.\n\n"
    "Every actor named in admins, reaffirmers or author_keys must be bound in\n"
    "authors. Raises ValueError for a rule violation.",
};

}  // namespace quillane::py
