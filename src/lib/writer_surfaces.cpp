// Writer surfaces for requests, requirements, selections and retractions.
#include <algorithm>

#include "base/enum_names.h"
#include "lib/boxed.h"
#include "lib/errors.h"
#include "lib/writer_core.h"
#include "record/evolution_payloads.h"

namespace quillane::py {
namespace {

std::optional<std::vector<RecordId>> parse_ids(const std::vector<std::string>& texts) {
  std::vector<RecordId> out;
  out.reserve(texts.size());
  for (const auto& t : texts) {
    RecordId id;
    if (!parse_id(t, id)) return std::nullopt;
    out.push_back(id);
  }
  return out;
}

// The provenance a role writes when none is given, or none for roles that
// cannot author a Requirement.
std::optional<Provenance> default_provenance(AuthorType role) {
  switch (role) {
    case AuthorType::User: return Provenance::UserAuthored;
    case AuthorType::Provider:
    case AuthorType::System: return Provenance::Derived;
    default: return std::nullopt;
  }
}

}  // namespace

PyObject* writer_request(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    WriterCore* w = writer_core(self);
    if (!w) return nullptr;
    static const char* kwlist[] = {"author", "objective", nullptr};
    PyObject *author_arg, *objective_arg;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:request", const_cast<char**>(kwlist), &author_arg,
                                     &objective_arg))
      return nullptr;
    std::string author_id, objective;
    if (!arg_str(author_arg, "author", author_id) || !arg_str(objective_arg, "objective", objective)) return nullptr;
    auto author = resolve_author(*w, author_id);
    if (!author) return nullptr;
    RequestData payload;
    payload.objective = std::move(objective);
    payload.scope = w->rules.space;
    auto bytes = checked_encode(payload, request_data_json, decode_request_data);
    if (!bytes) return nullptr;
    return do_commit(*w, std::move(*author), Kind::Request, "quillane.request.v1", std::move(*bytes), {});
  });
}

PyObject* writer_requirement(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    WriterCore* w = writer_core(self);
    if (!w) return nullptr;
    static const char* kwlist[] = {"author", "request", "key", "description", "required", "expected_evidence",
                                   "provenance", nullptr};
    PyObject *author_arg, *request_arg, *key_arg, *description_arg;
    PyObject *required_arg = nullptr, *expected_arg = nullptr, *provenance_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO|$OOO:requirement", const_cast<char**>(kwlist), &author_arg,
                                     &request_arg, &key_arg, &description_arg, &required_arg, &expected_arg,
                                     &provenance_arg))
      return nullptr;
    std::string author_id, request_text, key, description;
    bool required = true;
    std::optional<std::string> expected, provenance_text;
    if (!arg_str(author_arg, "author", author_id) || !arg_str(request_arg, "request", request_text) ||
        !arg_str(key_arg, "key", key) || !arg_str(description_arg, "description", description) ||
        !arg_bool(required_arg, "required", required) || !arg_opt_str(expected_arg, "expected_evidence", expected) ||
        !arg_opt_str(provenance_arg, "provenance", provenance_text))
      return nullptr;
    auto author = resolve_author(*w, author_id);
    if (!author) return nullptr;
    RecordId request;
    if (!parse_id(request_text, request)) return nullptr;
    const Record* found = w->log.find(request);
    if (!w->state.accepted(request) || found == nullptr || found->kind != Kind::Request)
      return raise_value_error("request " + quoted_literal(request_text) + " is not an accepted Request in this log");
    if (key.empty() || description.empty()) return raise_value_error("key and description must be non-empty");
    const auto allowed = default_provenance(author->type);
    if (!allowed)
      return raise_value_error("author " + quoted_literal(author_id) + " has role " +
                               std::string(name_of(author->type)) + ", which cannot author a Requirement");
    Provenance provenance = *allowed;
    if (provenance_text) {
      if (*provenance_text == "user_authored" || *provenance_text == "user-authored") provenance = Provenance::UserAuthored;
      else if (*provenance_text == "derived") provenance = Provenance::Derived;
      else
        return raise_value_error("invalid provenance " + quoted_literal(*provenance_text) +
                                 " (expected user_authored or derived)");
      if (provenance != *allowed)
        return raise_value_error("provenance " + quoted_literal(name_of(provenance)) + " cannot be authored by " +
                                 quoted_literal(author_id) + " (role " + std::string(name_of(author->type)) +
                                 "): provenance is bound to the author's role");
    }
    RequirementData payload{std::move(key), std::move(description), required, std::move(expected), provenance};
    auto bytes = checked_encode(payload, requirement_data_json, decode_requirement_data);
    if (!bytes) return nullptr;
    return do_commit(*w, std::move(*author), Kind::Requirement, "quillane.requirement.v1", std::move(*bytes),
                     {Ref{RefType::Cause, request}});
  });
}

PyObject* writer_select(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    WriterCore* w = writer_core(self);
    if (!w) return nullptr;
    static const char* kwlist[] = {"author", "objective", "consider", "choose", "uses_eval", "none",
                                   "replaces", "rationale", nullptr};
    PyObject *author_arg, *objective_arg, *consider_arg;
    PyObject *choose_arg = nullptr, *uses_arg = nullptr, *none_arg = nullptr, *replaces_arg = nullptr,
             *rationale_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|$OOOOO:select", const_cast<char**>(kwlist), &author_arg,
                                     &objective_arg, &consider_arg, &choose_arg, &uses_arg, &none_arg, &replaces_arg,
                                     &rationale_arg))
      return nullptr;
    std::string author_id, objective;
    std::vector<std::string> consider;
    std::optional<std::vector<std::string>> choose, uses;
    bool none = false;
    std::optional<std::string> replaces_text, rationale;
    if (!arg_str(author_arg, "author", author_id) || !arg_str(objective_arg, "objective", objective) ||
        !arg_str_list(consider_arg, "consider", consider) || !arg_opt_str_list(choose_arg, "choose", choose) ||
        !arg_opt_str_list(uses_arg, "uses_eval", uses) || !arg_bool(none_arg, "none", none) ||
        !arg_opt_str(replaces_arg, "replaces", replaces_text) || !arg_opt_str(rationale_arg, "rationale", rationale))
      return nullptr;
    auto author = resolve_author(*w, author_id);
    if (!author) return nullptr;
    if (consider.empty()) return raise_value_error("consider requires at least one candidate id");
    auto considered = parse_ids(consider);
    if (!considered) return nullptr;
    if (choose.has_value() == none) return raise_value_error("exactly one of choose or none=True is required");
    std::vector<Ref> refs;
    SelectionData payload;
    payload.objective = std::move(objective);
    payload.considered = std::move(*considered);
    payload.rationale = std::move(rationale);
    if (choose) {
      auto chosen = parse_ids(*choose);
      if (!chosen) return nullptr;
      for (const RecordId& id : *chosen) refs.push_back({RefType::Require, id});
      if (!uses) return raise_value_error("choose requires uses_eval with at least one evaluation");
      if (uses->empty()) return raise_value_error("uses_eval requires at least one evaluation");
      auto evals = parse_ids(*uses);
      if (!evals) return nullptr;
      for (const RecordId& id : *evals) refs.push_back({RefType::Use, id});
      payload.outcome.selected = std::move(*chosen);
    }
    if (replaces_text) {
      RecordId replaced;
      if (!parse_id(*replaces_text, replaced)) return nullptr;
      refs.push_back({RefType::Replace, replaced});
    }
    auto bytes = checked_encode(payload, selection_data_json, decode_selection_data);
    if (!bytes) return nullptr;
    return do_commit(*w, std::move(*author), Kind::Selection, "quillane.selection.v1", std::move(*bytes),
                     std::move(refs));
  });
}

PyObject* writer_retract(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    WriterCore* w = writer_core(self);
    if (!w) return nullptr;
    static const char* kwlist[] = {"author", "target", "reason", nullptr};
    PyObject *author_arg, *target_arg, *reason_arg;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:retract", const_cast<char**>(kwlist), &author_arg,
                                     &target_arg, &reason_arg))
      return nullptr;
    std::string author_id, target_text, reason;
    if (!arg_str(author_arg, "author", author_id) || !arg_str(target_arg, "target", target_text) ||
        !arg_str(reason_arg, "reason", reason))
      return nullptr;
    auto author = resolve_author(*w, author_id);
    if (!author) return nullptr;
    RecordId target;
    if (!parse_id(target_text, target)) return nullptr;
    RetractionData payload{target, std::move(reason)};
    auto bytes = checked_encode(payload, retraction_data_json, decode_retraction_data);
    if (!bytes) return nullptr;
    return do_commit(*w, std::move(*author), Kind::Retraction, "quillane.retraction.v1", std::move(*bytes),
                     {Ref{RefType::Cause, target}});
  });
}

const char* const kRequestDoc =
    "request($self, /, author, objective)\n--\n\n"
    "Record a Request: what a person asked for (spec 0.4 surfaces bind\n"
    "requirements to it). The writer is single-thread, so the request's\n"
    "scope is the space and it has no parent request. The verifier admits\n"
    "only a user-role author.";
const char* const kRequirementDoc =
    "requirement($self, /, author, request, key, description, *, required=True, expected_evidence=None,"
    " provenance=None)\n--\n\n"
    "Record a Requirement under a request (spec 0.4), with exactly one Cause\n"
    "to the request. The key must be unique among the request's accepted,\n"
    "unretracted requirements: a duplicate commits as a durable rejected\n"
    "record with RequirementInvalid; retract-and-record releases the key.\n\n"
    "provenance is \"user_authored\" or \"derived\", bound to the author's role\n"
    "by the verifier, and defaults from the role (user: user_authored;\n"
    "provider or system: derived). A value the role cannot carry raises\n"
    "ValueError before anything is written. required=False records an\n"
    "informational requirement a profile never counts. expected_evidence is\n"
    "recorded, not interpreted.";
const char* const kSelectDoc =
    "select($self, /, author, objective, consider, *, choose=None, uses_eval=None, none=False, replaces=None,"
    " rationale=None)\n--\n\n"
    "Record a Selection over candidates, or a reaffirmation.\n\n"
    "Exactly one of choose (with uses_eval) or none=True states the outcome.\n"
    "replaces adds a Replace ref to a prior Selection (a reaffirmation).";
const char* const kRetractDoc =
    "retract($self, /, author, target, reason)\n--\n\n"
    "Retract a committed record, asserting its content is wrong.\n\n"
    "The target stays in the log. On acceptance its id enters the retracted\n"
    "set and its epistemic dependents become tainted, so the receipt reports\n"
    "Tainted from then on, permanently. reason is recorded, not interpreted.\n\n"
    "Ownership is enforced by replay: accepted only when author is the\n"
    "target's author or is listed in the rules' admin_retraction_actors. An\n"
    "Executor may never author a Retraction, and a Verdict or a Retraction\n"
    "cannot be retracted. A rejected retraction is still durably committed,\n"
    "with accepted=False and the reason.";

}  // namespace quillane::py
