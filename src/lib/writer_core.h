// What a Writer object holds, and the steps its record surfaces share:
// author resolution, id parsing, payload checking and the commit.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/jcs_writer.h"
#include "lib/args.h"
#include "log/writer/log_writer.h"
#include "record/signing.h"
#include "state/state.h"
#include "verify/rules.h"

namespace quillane::py {

struct WriterCore {
  LogWriter log;
  VerifierRules rules;
  State state;
  std::map<std::string, Ed25519Signer> signers;
  unsigned long thread = 0;  // the creating thread
};

// The Writer's core, or null with an exception when called from a thread
// other than the one that created it.
WriterCore* writer_core(PyObject* self);

// The author bound in the rules' author_roles, unsigned; else ValueError.
std::optional<Author> resolve_author(const WriterCore& w, const std::string& author);

// Exactly 64 lowercase hex characters, untrimmed; else ValueError.
bool parse_id(const std::string& text, RecordId& out);

// Commits one record and returns a new Commit view; RuntimeError
// "commit failed: ..." when the log refuses.
PyObject* do_commit(WriterCore& w, Author author, Kind kind, std::string_view schema_name, std::string data,
                    std::vector<Ref> refs);

// Canonical bytes of a payload that decode back as the same structure;
// else ValueError (the encoder's message, or "invalid payload: ...").
template <typename T, typename ToJson, typename Decode>
std::optional<std::string> checked_encode(const T& payload, ToJson to_json, Decode decode) {
  auto bytes = canonical_json(to_json(payload));
  if (!bytes) {
    raise_value_error(bytes.error().message);
    return std::nullopt;
  }
  auto back = decode(*bytes);
  if (!back) {
    raise_value_error("invalid payload: " + back.error().message);
    return std::nullopt;
  }
  return std::move(bytes).value();
}

// The record surfaces, as METH_VARARGS | METH_KEYWORDS functions.
PyObject* writer_request(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* writer_requirement(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* writer_select(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* writer_retract(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* writer_candidate(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* writer_evaluate(PyObject* self, PyObject* args, PyObject* kwargs);

extern const char* const kRequestDoc;
extern const char* const kRequirementDoc;
extern const char* const kSelectDoc;
extern const char* const kRetractDoc;
extern const char* const kCandidateDoc;
extern const char* const kEvaluateDoc;

}  // namespace quillane::py
