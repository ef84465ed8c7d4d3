// The seven named queries as Python methods, shared by Writer and Receipt:
// argument parsing, running the query, and handing the report's JSON to
// Python's own json.loads.
#pragma once

#include <span>

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

// Docstrings of the query methods, shared by both classes.
extern const char* const kDescentDoc;
extern const char* const kDescendantsDoc;
extern const char* const kSiblingsDoc;
extern const char* const kFrontierDoc;
extern const char* const kStandingDoc;
extern const char* const kEvidenceDoc;
extern const char* const kSelectedDoc;

}  // namespace quillane::py
