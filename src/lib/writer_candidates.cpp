// Writer surfaces for candidates and evaluations, with the artifact and
// hash parsers only they use.
#include <algorithm>

#include "lib/boxed.h"
#include "lib/errors.h"
#include "lib/writer_core.h"
#include "manifest/manifest.h"
#include "record/artifact_ref.h"
#include "record/evolution_payloads.h"

namespace quillane::py {
namespace {

std::optional<std::vector<RecordId>> parse_ids(const std::vector<std::string>& texts) {
  std::vector<RecordId> out;
  for (const auto& t : texts) {
    RecordId id;
    if (!parse_id(t, id)) return std::nullopt;
    out.push_back(id);
  }
  return out;
}

std::optional<Digest> parse_hash(const char* field, const std::string& text) {
  auto d = hex_decode(text);
  if (!d) raise_value_error(std::string("invalid ") + field + " " + quoted_literal(text) + " (expected 64 hex chars)");
  return d;
}

// One artifact given as "scheme:digest[:name]".
std::optional<ArtifactRef> artifact_from_text(const std::string& text) {
  const auto first = text.find(':');
  const auto second = first == std::string::npos ? std::string::npos : text.find(':', first + 1);
  ArtifactRef ref;
  if (first != std::string::npos) {
    ref.scheme = text.substr(0, first);
    ref.digest = text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (second != std::string::npos && second + 1 < text.size()) ref.name = text.substr(second + 1);
  }
  if (first == std::string::npos || ref.scheme.empty() || ref.digest.empty()) {
    raise_value_error("invalid artifact " + quoted_literal(text) + " (expected scheme:digest[:name])");
    return std::nullopt;
  }
  return ref;
}

// A dict entry: scheme and digest required (str), name optional.
std::optional<ArtifactRef> artifact_from_dict(PyObject* dict) {
  ArtifactRef ref;
  PyObject* scheme = PyDict_GetItemString(dict, "scheme");
  if (scheme == nullptr) {
    raise_value_error("artifact dict requires scheme");
    return std::nullopt;
  }
  PyObject* digest = PyDict_GetItemString(dict, "digest");
  if (digest == nullptr) {
    raise_value_error("artifact dict requires digest");
    return std::nullopt;
  }
  if (!arg_str(scheme, "artifacts", ref.scheme) || !arg_str(digest, "artifacts", ref.digest)) return std::nullopt;
  if (!arg_opt_str(PyDict_GetItemString(dict, "name"), "artifacts", ref.name)) return std::nullopt;
  return ref;
}

// The artifacts argument's type: absent, None or a list; else TypeError.
bool arg_opt_list(PyObject* o, const char* name) {
  if (o == nullptr || o == Py_None || PyList_Check(o)) return true;
  PyErr_Format(PyExc_TypeError, "expected a list, got %.200s", Py_TYPE(o)->tp_name);
  return noted(name);
}

// None gives nothing; otherwise a list of checked artifacts, sorted and
// without duplicates. `ok` is false when an exception is set.
std::optional<std::vector<ArtifactRef>> parse_artifacts(PyObject* arg, bool& ok) {
  ok = true;
  if (arg == nullptr || arg == Py_None) return std::nullopt;
  if (!PyList_Check(arg)) {
    PyErr_Format(PyExc_TypeError, "expected a list, got %.200s", Py_TYPE(arg)->tp_name);
    ok = noted("artifacts");
    return std::nullopt;
  }
  PyRef items = PyRef::steal(PySequence_List(arg));  // a snapshot
  if (!items) return ok = false, std::nullopt;
  std::vector<ArtifactRef> refs;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
    PyObject* item = PyList_GET_ITEM(items.get(), i);
    std::optional<ArtifactRef> ref;
    if (PyUnicode_Check(item)) {
      std::string text;
      if (!arg_str(item, "artifacts", text)) return ok = false, std::nullopt;
      ref = artifact_from_text(text);
    } else if (PyDict_Check(item)) {
      ref = artifact_from_dict(item);
    } else {
      raise_value_error("artifacts entries must be 'scheme:digest[:name]' strings or dicts");
    }
    if (!ref) return ok = false, std::nullopt;
    if (!artifact_ref_well_formed(*ref)) {
      raise_value_error("invalid artifact " + ref->scheme + ":" + ref->digest +
                        ": scheme must match [a-z0-9][a-z0-9.-]* and the digest must be lowercase hex of the "
                        "scheme's length");
      return ok = false, std::nullopt;
    }
    refs.push_back(std::move(*ref));
  }
  std::sort(refs.begin(), refs.end());
  refs.erase(std::unique(refs.begin(), refs.end()), refs.end());
  return refs;
}

const Record* find_record(const WriterCore& w, const RecordId& id) { return w.log.find(id); }

}  // namespace

PyObject* writer_candidate(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    WriterCore* w = writer_core(self);
    if (!w) return nullptr;
    static const char* kwlist[] = {"author", "git_tree", "git_commit", "algo", "note", "continues", "parent",
                                   "derives_from", "upgrades", "manifest", "artifacts", nullptr};
    PyObject *author_arg, *tree_arg, *commit_arg = nullptr, *algo_arg = nullptr, *note_arg = nullptr,
             *continues_arg = nullptr, *parent_arg = nullptr, *derives_arg = nullptr, *upgrades_arg = nullptr,
             *manifest_arg = nullptr, *artifacts_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|$OOOOOOOOO:candidate", const_cast<char**>(kwlist),
                                     &author_arg, &tree_arg, &commit_arg, &algo_arg, &note_arg, &continues_arg,
                                     &parent_arg, &derives_arg, &upgrades_arg, &manifest_arg, &artifacts_arg))
      return nullptr;
    std::string author_id, tree;
    std::optional<std::string> commit, algo, note, continues, parent, upgrades, manifest;
    std::optional<std::vector<std::string>> derives;
    if (!arg_str(author_arg, "author", author_id) || !arg_str(tree_arg, "git_tree", tree) ||
        !arg_opt_str(commit_arg, "git_commit", commit) || !arg_opt_str(algo_arg, "algo", algo) ||
        !arg_opt_str(note_arg, "note", note) || !arg_opt_str(continues_arg, "continues", continues) ||
        !arg_opt_str(parent_arg, "parent", parent) || !arg_opt_str_list(derives_arg, "derives_from", derives) ||
        !arg_opt_str(upgrades_arg, "upgrades", upgrades) || !arg_opt_str(manifest_arg, "manifest", manifest) ||
        !arg_opt_list(artifacts_arg, "artifacts"))
      return nullptr;
    auto author = resolve_author(*w, author_id);
    if (!author) return nullptr;
    bool ok = true;
    auto artifacts = parse_artifacts(artifacts_arg, ok);
    if (!ok) return nullptr;
    const std::string algo_text = algo.value_or("sha1");
    if (algo_text != "sha1" && algo_text != "sha256") return raise_value_error("invalid algo " + quoted_literal(algo_text));
    if (int(continues.has_value()) + int(derives.has_value()) + int(upgrades.has_value()) > 1)
      return raise_value_error("continues, derives_from, and upgrades are mutually exclusive");

    CandidateData payload;
    std::vector<Ref> refs;
    if (continues) {
      if (!parent) return raise_value_error("continues requires parent (the continued candidate id)");
      RecordId parent_id, anchor;
      if (!parse_id(*parent, parent_id) || !parse_id(*continues, anchor)) return nullptr;
      payload.basis = CandidateBasis::Continuation;
      payload.parent = parent_id;
      refs.push_back({RefType::Cause, anchor});
    } else if (parent) {
      return raise_value_error("parent is only valid with continues");
    } else if (derives) {
      if (derives->empty()) return raise_value_error("derives_from requires at least one id");
      auto ids = parse_ids(*derives);
      if (!ids) return nullptr;
      payload.basis = CandidateBasis::Derivation;
      for (const RecordId& id : *ids) refs.push_back({RefType::Cause, id});
    } else if (upgrades) {
      RecordId target;
      if (!parse_id(*upgrades, target)) return nullptr;
      const std::string shown = quoted_literal(*upgrades);
      const Record* record = find_record(*w, target);
      std::optional<CandidateData> old;
      if (record && record->kind == Kind::Candidate) {
        auto decoded = decode_candidate_data(record->payload_json());
        if (decoded) old = std::move(decoded).value();
      }
      if (!old) return raise_value_error("upgrades target " + shown + " is not a Candidate in this log");
      if (!w->state.accepted(target)) return raise_value_error("upgrades target " + shown + " is not an accepted Candidate");
      if (w->state.retracted_records.contains(target))
        return raise_value_error("upgrades target " + shown + " is retracted; upgrade a live candidate");
      if (tree != old->source.git.tree)
        return raise_value_error("refusing upgrade: git_tree " + quoted_literal(tree) + " differs from the target's tree " +
                                 quoted_literal(old->source.git.tree));
      payload.basis = CandidateBasis::Derivation;
      refs.push_back({RefType::Cause, target});
    } else {
      payload.basis = CandidateBasis::Root;
    }
    if (manifest) {
      auto entries = manifest_from_dir(*manifest, {});
      if (!entries) return raise_value_error("cannot walk tree " + *manifest + ": " + entries.error().message);
      auto hash = manifest_hash(*entries);
      if (!hash) return raise_value_error("manifest has duplicate paths");
      payload.source.manifest_hash = *hash;
      payload.source.binding = BindingMode::Manifest;
    }
    payload.source.git.algo = algo_text == "sha1" ? SourceAlgo::Sha1 : SourceAlgo::Sha256;
    payload.source.git.tree = std::move(tree);
    payload.source.git.commit = std::move(commit);
    payload.note = std::move(note);
    payload.artifacts = std::move(artifacts);
    auto bytes = checked_encode(payload, candidate_data_json, decode_candidate_data);
    if (!bytes) return nullptr;
    return do_commit(*w, std::move(*author), Kind::Candidate, "quillane.candidate.v1", std::move(*bytes),
                     std::move(refs));
  });
}

namespace {

struct EvaluateArgs {
  std::string author, candidate, criterion;
  bool passed = false, failed = false, blocked = false, insufficient = false, stale = false, not_run = false,
       attested = false;
  std::optional<std::int64_t> score;
  std::optional<std::uint8_t> scale;
  std::optional<std::string> procedure, evaluator, evaluator_version, procedure_hash, input_hash, basis;
  std::optional<std::vector<std::string>> uses, requirements;
  PyObject* artifacts = nullptr;
};

bool arg_opt_int(PyObject* o, const char* name, std::optional<std::int64_t>& out) {
  if (o == nullptr || o == Py_None) return true;
  if (!PyLong_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected int, got %.200s", Py_TYPE(o)->tp_name);
    return noted(name);
  }
  const long long v = PyLong_AsLongLong(o);
  if (v == -1 && PyErr_Occurred()) return noted(name);
  out = v;
  return true;
}

bool arg_opt_u8(PyObject* o, const char* name, std::optional<std::uint8_t>& out) {
  std::optional<std::int64_t> v;
  if (!arg_opt_int(o, name, v)) return false;
  if (!v) return true;
  if (*v < 0 || *v > 255) {
    PyErr_SetString(PyExc_OverflowError, "int out of range for an unsigned 8-bit integer");
    return noted(name);
  }
  out = static_cast<std::uint8_t>(*v);
  return true;
}

bool extract(PyObject* args, PyObject* kwargs, EvaluateArgs& a) {
  static const char* kwlist[] = {"author", "candidate", "criterion", "passed", "failed", "score", "scale",
                                 "procedure", "uses", "blocked", "insufficient", "stale", "not_run", "evaluator",
                                 "evaluator_version", "procedure_hash", "input_hash", "basis", "requirements",
                                 "artifacts", "attested", nullptr};
  PyObject *author, *candidate, *criterion;
  PyObject* o[18] = {};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|$OOOOOOOOOOOOOOOOOO:evaluate", const_cast<char**>(kwlist),
                                   &author, &candidate, &criterion, &o[0], &o[1], &o[2], &o[3], &o[4], &o[5], &o[6],
                                   &o[7], &o[8], &o[9], &o[10], &o[11], &o[12], &o[13], &o[14], &o[15], &o[16], &o[17]))
    return false;
  a.artifacts = o[16];
  return arg_str(author, "author", a.author) && arg_str(candidate, "candidate", a.candidate) &&
         arg_str(criterion, "criterion", a.criterion) && arg_bool(o[0], "passed", a.passed) &&
         arg_bool(o[1], "failed", a.failed) && arg_opt_int(o[2], "score", a.score) &&
         arg_opt_u8(o[3], "scale", a.scale) && arg_opt_str(o[4], "procedure", a.procedure) &&
         arg_opt_str_list(o[5], "uses", a.uses) && arg_bool(o[6], "blocked", a.blocked) &&
         arg_bool(o[7], "insufficient", a.insufficient) && arg_bool(o[8], "stale", a.stale) &&
         arg_bool(o[9], "not_run", a.not_run) && arg_opt_str(o[10], "evaluator", a.evaluator) &&
         arg_opt_str(o[11], "evaluator_version", a.evaluator_version) &&
         arg_opt_str(o[12], "procedure_hash", a.procedure_hash) && arg_opt_str(o[13], "input_hash", a.input_hash) &&
         arg_opt_str(o[14], "basis", a.basis) && arg_opt_str_list(o[15], "requirements", a.requirements) &&
         arg_opt_list(a.artifacts, "artifacts") && arg_bool(o[17], "attested", a.attested);
}

// The names of the extended options given, in their fixed order.
std::vector<std::string> extended_options(const EvaluateArgs& a) {
  std::vector<std::string> names;
  const std::pair<const char*, bool> options[] = {
      {"evaluator", a.evaluator.has_value()},
      {"evaluator_version", a.evaluator_version.has_value()},
      {"procedure_hash", a.procedure_hash.has_value()},
      {"input_hash", a.input_hash.has_value()},
      {"basis", a.basis.has_value()},
      {"requirements", a.requirements.has_value()},
      {"artifacts", a.artifacts != nullptr && a.artifacts != Py_None},
      {"blocked", a.blocked},
      {"insufficient", a.insufficient},
      {"stale", a.stale},
      {"not_run", a.not_run},
  };
  for (const auto& [name, given] : options)
    if (given) names.emplace_back(name);
  return names;
}

}  // namespace

PyObject* writer_evaluate(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    WriterCore* w = writer_core(self);
    if (!w) return nullptr;
    EvaluateArgs a;
    if (!extract(args, kwargs, a)) return nullptr;
    auto author = resolve_author(*w, a.author);
    if (!author) return nullptr;
    RecordId candidate;
    if (!parse_id(a.candidate, candidate)) return nullptr;
    if (a.attested && !w->signers.contains(a.author))
      return raise_value_error("attested=True requires a signer for " + quoted_literal(a.author) +
                               ": pass signers={...} to Writer");
    const int flags = int(a.passed) + int(a.failed) + int(a.blocked) + int(a.insufficient) + int(a.stale) + int(a.not_run);
    if (a.score && !a.scale) return raise_value_error("score requires scale (the denominator)");
    if (int(a.score.has_value()) + flags != 1)
      return raise_value_error("exactly one of passed, failed, score, blocked, insufficient, stale, or not_run is required");
    const auto extended = extended_options(a);
    const bool v2 = a.evaluator && a.basis;
    if (!extended.empty() && !v2) {
      std::string joined;
      for (const auto& n : extended) joined += (joined.empty() ? "" : ", ") + n;
      return raise_value_error("the extended evaluation (" + joined +
                               ") requires both evaluator and basis ('recomputed' or 'declared')");
    }
    std::vector<Ref> refs = {{RefType::Use, candidate}};
    std::vector<RecordId> requirements;
    if (a.requirements) {
      auto ids = parse_ids(*a.requirements);
      if (!ids) return nullptr;
      requirements = std::move(*ids);
      std::sort(requirements.begin(), requirements.end());
      requirements.erase(std::unique(requirements.begin(), requirements.end()), requirements.end());
      for (const RecordId& id : requirements) {
        const Record* r = find_record(*w, id);
        if (!r || r->kind != Kind::Requirement || !w->state.accepted(id))
          return raise_value_error("requirement " + hex_encode(id) + " is not an accepted Requirement in this log");
        refs.push_back({RefType::Use, id});
      }
    }
    if (a.uses) {
      auto ids = parse_ids(*a.uses);
      if (!ids) return nullptr;
      for (const RecordId& id : *ids) refs.push_back({RefType::Use, id});
    }
    const std::optional<ScoredValue> score =
        a.score ? std::optional<ScoredValue>(ScoredValue{*a.score, *a.scale}) : std::nullopt;
    if (!v2) {
      if (a.attested) return raise_value_error("attested=True requires the extended shape: give evaluator and basis");
      EvaluationData payload;
      payload.candidate = candidate;
      payload.criterion = a.criterion;
      payload.procedure = a.procedure;
      if (score) payload.outcome = *score;
      else payload.outcome = a.passed ? PlainOutcome::Passed : PlainOutcome::Failed;
      auto bytes = checked_encode(payload, evaluation_data_json, decode_evaluation_data);
      if (!bytes) return nullptr;
      return do_commit(*w, std::move(*author), Kind::Evaluation, "quillane.evaluation.v1", std::move(*bytes),
                       std::move(refs));
    }
    if (a.evaluator->empty()) return raise_value_error("evaluator must be non-empty");
    if (*a.basis != "recomputed" && *a.basis != "declared")
      return raise_value_error("invalid basis " + quoted_literal(*a.basis) + " (expected 'recomputed' or 'declared')");
    EvaluationDataV2 payload;
    if (a.procedure_hash) {
      payload.evaluator.procedure_hash = parse_hash("procedure_hash", *a.procedure_hash);
      if (!payload.evaluator.procedure_hash) return nullptr;
    }
    if (a.input_hash) {
      payload.evaluator.input_hash = parse_hash("input_hash", *a.input_hash);
      if (!payload.evaluator.input_hash) return nullptr;
    }
    bool ok = true;
    auto artifacts = parse_artifacts(a.artifacts, ok);
    if (!ok) return nullptr;
    payload.candidate = candidate;
    payload.criterion = a.criterion;
    payload.procedure = a.procedure;
    if (score) payload.outcome = *score;
    else if (a.passed) payload.outcome = PlainOutcomeV2::Passed;
    else if (a.failed) payload.outcome = PlainOutcomeV2::Failed;
    else if (a.blocked) payload.outcome = PlainOutcomeV2::Blocked;
    else if (a.insufficient) payload.outcome = PlainOutcomeV2::Insufficient;
    else if (a.stale) payload.outcome = PlainOutcomeV2::Stale;
    else payload.outcome = PlainOutcomeV2::NotRun;
    payload.evaluator.id = *a.evaluator;
    payload.evaluator.version = a.evaluator_version;
    payload.basis = *a.basis == "recomputed" ? Basis::Recomputed : Basis::Declared;
    payload.evidence = artifacts.value_or(std::vector<ArtifactRef>{});
    payload.requirements = requirements;
    auto bytes = checked_encode(payload, evaluation_data_v2_json, decode_evaluation_data_v2);
    if (!bytes) return nullptr;
    return do_commit(*w, std::move(*author), Kind::Evaluation,
                     a.attested ? "quillane.evaluation.attested.v1" : "quillane.evaluation.v2", std::move(*bytes),
                     std::move(refs));
  });
}

const char* const kCandidateDoc =
    "candidate($self, /, author, git_tree, *, git_commit=None, algo='sha1', note=None, continues=None, parent=None,"
    " derives_from=None, upgrades=None, manifest=None, artifacts=None)\n--\n\n"
    "Record a Candidate: a proposed source state.\n\n"
    "The basis is chosen by exactly one of continues (with parent),\n"
    "derives_from or upgrades; omitting all three records a root. algo is\n"
    "\"sha1\" (default) or \"sha256\". manifest (a directory path) binds the\n"
    "source by a canonical manifest hash; otherwise the git tree is\n"
    "reported. artifacts (spec 0.4) binds artifact identities, given as\n"
    "\"scheme:digest[:name]\" strings or dicts with scheme, digest and an\n"
    "optional name; they are checked and canonically ordered before the\n"
    "write.";
const char* const kEvaluateDoc =
    "evaluate($self, /, author, candidate, criterion, *, passed=False, failed=False, score=None, scale=None,"
    " procedure=None, uses=None, blocked=False, insufficient=False, stale=False, not_run=False, evaluator=None,"
    " evaluator_version=None, procedure_hash=None, input_hash=None, basis=None, requirements=None, artifacts=None,"
    " attested=False)\n--\n\n"
    "Record an Evaluation of a candidate with exactly one outcome: passed,\n"
    "failed, a score with scale, or one of the spec 0.4 fail-closed outcomes\n"
    "blocked, insufficient, stale, not_run. Only passed passes.\n\n"
    "The evaluation Uses its candidate, each requirement it speaks to, and\n"
    "any extra uses ids. With evaluator and basis (\"recomputed\" or\n"
    "\"declared\"; the basis is declared, never inferred) the extended shape\n"
    "\"quillane.evaluation.v2\" is written, naming who decided, the artifacts\n"
    "judged and the accepted Requirement ids. Any of those, or a fail-closed\n"
    "outcome, without both evaluator and basis raises ValueError; without\n"
    "them the v1 shape is written. attested=True (a signer for the author is\n"
    "required) writes \"quillane.evaluation.attested.v1\".";

}  // namespace quillane::py
