// Payload values for evolution records in verifier tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "record/evolution_payloads.h"
#include "record/record.h"

namespace quillane::test {

inline Json request_json(const std::string& objective = "ship the feature",
                         std::optional<Digest> parent = std::nullopt) {
  RequestData r;
  r.objective = objective;
  r.scope = Digest{};
  r.parent_request_id = parent;
  return request_data_json(r);
}

inline CandidateData candidate(CandidateBasis basis, std::optional<Digest> parent = std::nullopt) {
  CandidateData c;
  c.source.git.algo = SourceAlgo::Sha1;
  c.source.git.tree = std::string(40, 'a');
  c.source.binding = BindingMode::Reported;
  c.basis = basis;
  c.parent = parent;
  return c;
}

inline Json candidate_json(CandidateBasis basis, std::optional<Digest> parent = std::nullopt) {
  return candidate_data_json(candidate(basis, parent));
}

inline Json evaluation_json(const Digest& candidate, bool passed = true, const std::string& criterion = "tests") {
  EvaluationData e;
  e.candidate = candidate;
  e.criterion = criterion;
  e.outcome = passed ? PlainOutcome::Passed : PlainOutcome::Failed;
  return evaluation_data_json(e);
}

inline EvaluationDataV2 evaluation_v2(const Digest& candidate) {
  EvaluationDataV2 e;
  e.candidate = candidate;
  e.criterion = "tests";
  e.outcome = PlainOutcomeV2::Passed;
  e.evaluator.id = "ci";
  e.basis = Basis::Recomputed;
  return e;
}

inline Json selection_json(const std::vector<Digest>& considered, std::optional<std::vector<Digest>> chosen,
                           const std::string& objective = "pick the best") {
  SelectionData s;
  s.objective = objective;
  s.considered = considered;
  s.outcome.selected = std::move(chosen);
  return selection_data_json(s);
}

inline Json retraction_json(const Digest& target, const std::string& reason = "wrong") {
  return retraction_data_json(RetractionData{target, reason});
}

inline Json requirement_json(const std::string& key, Provenance provenance = Provenance::UserAuthored) {
  RequirementData r;
  r.key = key;
  r.description = "must hold";
  r.required = true;
  r.provenance = provenance;
  return requirement_data_json(r);
}

inline Ref cause(const Digest& d) { return Ref{RefType::Cause, d}; }
inline Ref use(const Digest& d) { return Ref{RefType::Use, d}; }
inline Ref require(const Digest& d) { return Ref{RefType::Require, d}; }
inline Ref replace(const Digest& d) { return Ref{RefType::Replace, d}; }

}  // namespace quillane::test
