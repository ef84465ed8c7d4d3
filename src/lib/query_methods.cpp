#include "lib/query_methods.h"

#include "base/jcs_writer.h"
#include "lib/boxed.h"
#include "lib/convert.h"
#include "queries/named_queries.h"

namespace quillane::py {
namespace {

PyObject* json_to_python(const Json& value) {
  auto text = canonical_json(value);
  if (!text) {
    PyErr_SetString(PyExc_ValueError, text.error().message.c_str());
    return nullptr;
  }
  PyRef json = PyRef::steal(PyImport_ImportModule("json"));
  if (!json) return nullptr;
  PyRef str = PyRef::steal(to_str(*text));
  if (!str) return nullptr;
  return PyObject_CallMethod(json.get(), "loads", "O", str.get());
}

template <typename T>
PyObject* report_or_error(const QueryResult<T>& result) {
  if (auto* error = std::get_if<QueryError>(&result)) {
    PyErr_SetString(PyExc_ValueError, error->message().c_str());
    return nullptr;
  }
  return json_to_python(report_json(std::get<T>(result)));
}

}  // namespace

bool parse_record_id(PyObject* arg, const char* name, RecordId& out) {
  std::string text;
  if (!to_utf8(arg, text)) return noted(name);
  auto id = hex_decode(text);
  if (!id) {
    PyErr_Format(PyExc_ValueError, "invalid record id %s", quoted_literal(text).c_str());
    return false;
  }
  out = *id;
  return true;
}

bool check_query_argument(QueryName name, PyObject* arg) {
  if (name == QueryName::Frontier) return true;
  if (name == QueryName::Selected) {
    std::string objective;
    return to_utf8(arg, objective) || noted("objective");
  }
  RecordId id;
  return parse_record_id(arg, "id", id);
}

bool query_argument(QueryName name, PyObject* args, PyObject* kwargs, PyObject*& arg) {
  arg = nullptr;
  static const char* id_kw[] = {"id", nullptr};
  static const char* objective_kw[] = {"objective", nullptr};
  static const char* none_kw[] = {nullptr};
  switch (name) {
    case QueryName::Frontier:
      return PyArg_ParseTupleAndKeywords(args, kwargs, ":frontier", const_cast<char**>(none_kw));
    case QueryName::Selected:
      return PyArg_ParseTupleAndKeywords(args, kwargs, "O:selected", const_cast<char**>(objective_kw), &arg);
    case QueryName::Descent: return PyArg_ParseTupleAndKeywords(args, kwargs, "O:descent", const_cast<char**>(id_kw), &arg);
    case QueryName::Descendants:
      return PyArg_ParseTupleAndKeywords(args, kwargs, "O:descendants", const_cast<char**>(id_kw), &arg);
    case QueryName::Siblings: return PyArg_ParseTupleAndKeywords(args, kwargs, "O:siblings", const_cast<char**>(id_kw), &arg);
    case QueryName::Standing: return PyArg_ParseTupleAndKeywords(args, kwargs, "O:standing", const_cast<char**>(id_kw), &arg);
    case QueryName::Evidence: return PyArg_ParseTupleAndKeywords(args, kwargs, "O:evidence", const_cast<char**>(id_kw), &arg);
  }
  return false;
}

PyObject* answer_query(const Queries& q, QueryName name, PyObject* arg) {
  RecordId id{};
  if (name == QueryName::Selected) {
    std::string objective;
    if (!to_utf8(arg, objective)) return noted("objective"), nullptr;
    return json_to_python(report_json(selected(q, objective)));
  }
  if (name == QueryName::Frontier) return json_to_python(report_json(frontier(q)));
  if (!parse_record_id(arg, "id", id)) return nullptr;
  switch (name) {
    case QueryName::Descent: return report_or_error(descent(q, id));
    case QueryName::Descendants: return report_or_error(descendants(q, id));
    case QueryName::Siblings: return report_or_error(siblings(q, id));
    case QueryName::Standing: return report_or_error(standing(q, id));
    case QueryName::Evidence: return report_or_error(evidence(q, id));
    default: return nullptr;
  }
}

const char* const kDescentDoc =
    "descent($self, /, id)\n--\n\n"
    "q1: the line of descent from a candidate back to its roots (RFC-0002),\n"
    "returned as the shared surface JSON as dicts and lists.";
const char* const kDescendantsDoc =
    "descendants($self, /, id)\n--\n\n"
    "q2: every candidate whose descent passes through the record, in log order.";
const char* const kSiblingsDoc =
    "siblings($self, /, id)\n--\n\n"
    "q3: the candidate's generation (same anchor Selection, or same exact\n"
    "derivation cause set), excluding itself.";
const char* const kFrontierDoc =
    "frontier($self, /)\n--\n\n"
    "q4: candidates no accepted Selection considered, and chosen candidates\n"
    "with no continuation yet. Nothing is silently filtered: every node\n"
    "carries its annotations.";
const char* const kStandingDoc =
    "standing($self, /, id)\n--\n\n"
    "q5: the record's standing, taint and retraction status, plus any\n"
    "restoring Selection ids.";
const char* const kEvidenceDoc =
    "evidence($self, /, id)\n--\n\n"
    "q6: what the record rests on: for a Selection its own evidence, for a\n"
    "Candidate the evidence of every anchor Selection along its full descent\n"
    "(unbounded).";
const char* const kSelectedDoc =
    "selected($self, /, objective)\n--\n\n"
    "q7: the accepted Selected selections whose objective equals the string\n"
    "exactly (no patterns), with chosen candidates and evidence.";

}  // namespace quillane::py
