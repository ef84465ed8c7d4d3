#include "queries/queries.h"

#include <algorithm>

#include "base/enum_names.h"
#include "record/activity_payloads.h"
#include "record/evolution_payloads.h"

namespace quillane {

std::string QueryError::message() const {
  switch (kind) {
    case Case::LogDoesNotVerify:
      return "log does not verify: " + (reason ? "Some(" + std::string(name_of(*reason)) + ")" : std::string("None"));
    case Case::NotFound: return "record " + hex_encode(id) + " not found";
    case Case::RejectedAtCommit: return "record " + hex_encode(id) + " was rejected at commit";
    case Case::WrongKind: return "record " + hex_encode(id) + " is not a " + expected;
  }
  return {};
}

QueryResult<Queries> Queries::make(std::span<const Record> records, const VerifierRules& rules) {
  // A valid replay builds the same state as an unchecked rebuild.
  ReplayOutcome outcome = replay_log(records, rules);
  if (outcome.verdict.invalid) return QueryError{QueryError::Case::LogDoesNotVerify, outcome.verdict.reason, {}, {}};
  Queries q;
  q.records_ = records;
  q.index_ = PriorIndex::of(records);
  q.state_ = std::move(outcome.state);
  q.verdict_ = std::move(outcome.verdict);
  return q;
}

Queries Queries::from_verified(std::span<const Record> records, const State& state) {
  Queries q;
  q.records_ = records;
  q.index_ = PriorIndex::of(records);
  q.state_ = state;
  q.verdict_.checked = records.size();
  q.verdict_.last_time = records.empty() ? 0 : records.back().time;
  q.verdict_.retracted = state.retracted_records;
  q.verdict_.tainted = state.tainted_records;
  q.verdict_.standing = derive_standing(records, state);
  return q;
}

const Record* Queries::find(const RecordId& id) const { return index_.find(id); }

std::variant<const Record*, QueryError> Queries::resolve(const RecordId& id, std::span<const Kind> kinds,
                                                          std::string_view expected) const {
  const Record* r = find(id);
  if (!r) return QueryError{QueryError::Case::NotFound, std::nullopt, id, {}};
  if (!accepted(id)) return QueryError{QueryError::Case::RejectedAtCommit, std::nullopt, id, {}};
  if (!kinds.empty() && std::find(kinds.begin(), kinds.end(), r->kind) == kinds.end())
    return QueryError{QueryError::Case::WrongKind, std::nullopt, id, std::string(expected)};
  return r;
}

Node Queries::node(const Record& record) const {
  Node n;
  n.id = record.id;
  n.kind = record.kind;
  n.tainted = verdict_.tainted.contains(record.id);
  n.retracted = verdict_.retracted.contains(record.id);
  n.standing = "n/a";
  switch (record.kind) {
    case Kind::Candidate: {
      n.standing = verdict_.standing.compromised.contains(record.id) ? "compromised" : "sound";
      auto data = decode_candidate_data(record.payload_json());
      if (data && data->artifacts) n.artifacts = *data->artifacts;
      break;
    }
    case Kind::Selection:
      n.standing = verdict_.standing.unsound.contains(record.id) ? "unsound" : "sound";
      break;
    case Kind::Evaluation: {
      auto data = decode_evaluation_data_v2(record.payload_json());
      if (data) {
        n.artifacts = data->evidence;
        n.requirements = data->requirements;
      }
      break;
    }
    case Kind::Result: {
      auto data = decode_result_data(record.payload_json());
      if (data && data->artifacts) n.artifacts = *data->artifacts;
      break;
    }
    default: break;
  }
  return n;
}

std::vector<DescentEdge> Queries::back_edges(const Record& candidate, const CandidateData& data) const {
  std::vector<RecordId> causes;
  for (const Ref& ref : candidate.refs)
    if (ref.type == RefType::Cause) causes.push_back(ref.target);
  std::sort(causes.begin(), causes.end());
  std::vector<DescentEdge> edges;
  switch (data.basis) {
    case CandidateBasis::Root: break;
    case CandidateBasis::Continuation:
      for (const RecordId& id : causes) edges.push_back({id, "continuation-anchor"});
      if (data.parent) edges.push_back({*data.parent, "parent"});
      break;
    case CandidateBasis::Derivation:
      for (const RecordId& id : causes) {
        const Record* r = find(id);
        if (r && r->kind == Kind::Candidate) edges.push_back({id, "derivation"});
      }
      break;
  }
  return edges;
}

std::vector<EvidenceEntry> Queries::selection_evidence(std::span<const Ref> refs) const {
  std::vector<EvidenceEntry> out;
  for (const Ref& ref : refs) {
    if (ref.type != RefType::Use) continue;
    const Record* r = find(ref.target);
    if (!r || r->kind != Kind::Evaluation) continue;
    auto summary = evaluation_summary(r->schema, r->payload_json());
    if (!summary) continue;
    out.push_back(EvidenceEntry{node(*r), summary->criterion, summary->label});
  }
  return out;
}

Json node_json(const Node& node) {
  JsonObject o;
  o.reserve(7);
  o.emplace_back("id", Json(hex_encode(node.id)));
  o.emplace_back("kind", Json(std::string(name_of(node.kind))));
  o.emplace_back("standing", Json(node.standing));
  o.emplace_back("tainted", Json(node.tainted));
  o.emplace_back("retracted", Json(node.retracted));
  if (!node.artifacts.empty()) {
    JsonArray a;
    for (const auto& ref : node.artifacts) a.push_back(artifact_ref_json(ref));
    o.emplace_back("artifacts", Json(std::move(a)));
  }
  if (!node.requirements.empty()) {
    JsonArray a;
    for (const auto& id : node.requirements) a.push_back(Json(hex_encode(id)));
    o.emplace_back("requirements", Json(std::move(a)));
  }
  return Json(std::move(o));
}

Json evidence_entry_json(const EvidenceEntry& entry) {
  JsonObject o;
  o.reserve(3);
  o.emplace_back("node", node_json(entry.node));
  o.emplace_back("criterion", Json(entry.criterion));
  o.emplace_back("outcome", Json(entry.outcome));
  return Json(std::move(o));
}

}  // namespace quillane
