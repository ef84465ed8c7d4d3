// The seven named queries as Python methods, shared by Writer and Receipt:
// argument parsing, running the query, and handing the report's JSON to
// Python's own json.loads.
#pragma once

#include <span>

#include "lib/errors.h"
#include "lib/py_ref.h"
#include "queries/queries.h"

namespace quillane::py {

enum class QueryName { Descent, Descendants, Siblings, Frontier, Standing, Evidence, Selected };

// Parses a record id argument: a str (else TypeError noted with `name`) of
// exactly 64 lowercase hex characters (else ValueError "invalid record id").
bool parse_record_id(PyObject* arg, const char* name, RecordId& out);

// Runs the query over `queries`; `arg` is the Python argument (null for
// frontier). Returns the report as Python objects or raises ValueError.
PyObject* answer_query(const Queries& queries, QueryName name, PyObject* arg);

// Extracts the one argument of a query method (`id`, `objective`, or none
// for frontier) from a call; null with TypeError when the call is malformed.
bool query_argument(QueryName name, PyObject* args, PyObject* kwargs, PyObject*& arg);

// Checks the argument before any index is built: an `id` must parse, an
// `objective` must be a str (else TypeError noted with `objective`).
bool check_query_argument(QueryName name, PyObject* arg);

// Checks the argument, then builds the index with `make_queries` (which
// returns the queries or sets a Python error) and answers.
template <typename MakeQueries>
PyObject* run_query(QueryName name, PyObject* arg, MakeQueries make_queries) {
  if (!check_query_argument(name, arg)) return nullptr;
  std::optional<Queries> queries = make_queries();
  if (!queries) return nullptr;
  return answer_query(*queries, name, arg);
}

// One query method of a class. `Source` says whether the object may be used
// now (`ready`, which sets an exception when not) and builds its index
// (`queries`, null with an exception set when it cannot).
template <typename Source, QueryName kName>
PyObject* query_method(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    if (!Source::ready(self)) return nullptr;
    PyObject* arg = nullptr;
    if (!query_argument(kName, args, kwargs, arg)) return nullptr;
    return run_query(kName, arg, [&] { return Source::queries(self); });
  });
}

// The seven query entries of a method table.
#define QUILLANE_QUERY_METHOD(Source, name, q)                                                        \
  {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(query_method<Source, QueryName::q>)), \
   METH_VARARGS | METH_KEYWORDS, k##q##Doc}
#define QUILLANE_QUERY_METHODS(Source)                          \
  QUILLANE_QUERY_METHOD(Source, "descent", Descent),            \
      QUILLANE_QUERY_METHOD(Source, "descendants", Descendants), \
      QUILLANE_QUERY_METHOD(Source, "siblings", Siblings),       \
      QUILLANE_QUERY_METHOD(Source, "frontier", Frontier),       \
      QUILLANE_QUERY_METHOD(Source, "standing", Standing),       \
      QUILLANE_QUERY_METHOD(Source, "evidence", Evidence),       \
      QUILLANE_QUERY_METHOD(Source, "selected", Selected)

// Docstrings of the query methods, shared by both classes.
extern const char* const kDescentDoc;
extern const char* const kDescendantsDoc;
extern const char* const kSiblingsDoc;
extern const char* const kFrontierDoc;
extern const char* const kStandingDoc;
extern const char* const kEvidenceDoc;
extern const char* const kSelectedDoc;

}  // namespace quillane::py
