// Checks of the evolution kinds: requests, requirements, candidates,
// evaluations and selections.
#include <algorithm>
#include <set>

#include "base/schema.h"
#include "record/artifact_ref.h"
#include "state/approval_digests.h"
#include "verify/verifier/kind_checks.h"

namespace quillane {
namespace {

std::vector<RecordId> targets_of(const Record& record, RefType type) {
  std::vector<RecordId> out;
  for (const Ref& ref : record.refs)
    if (ref.type == type) out.push_back(ref.target);
  return out;
}

std::optional<RecordId> first_target(const Record& record, RefType type) {
  for (const Ref& ref : record.refs)
    if (ref.type == type) return ref.target;
  return std::nullopt;
}

bool lower_hex_of_length(const std::string& text, std::size_t length) {
  return text.size() == length &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// An accepted Candidate in the record's space named by a payload id.
bool names_accepted_candidate(const CheckInput& in, const RecordId& id) {
  return prior_of_kind(in, id, Kind::Candidate) != nullptr && in.state.accepted(id);
}

Judgement check_source_binding(const SourceBinding& source) {
  const std::size_t length = source.git.algo == SourceAlgo::Sha1 ? 40 : 64;
  if (!lower_hex_of_length(source.git.tree, length)) return ReasonCode::SourceBindingInvalid;
  if (source.git.commit && !lower_hex_of_length(*source.git.commit, length)) return ReasonCode::SourceBindingInvalid;
  const BindingMode expected = source.manifest_hash ? BindingMode::Manifest : BindingMode::Reported;
  if (source.binding != expected) return ReasonCode::SourceBindingInvalid;
  return Judgement::accept();
}

Judgement check_continuation(const CheckInput& in, const CandidateData& c, const std::vector<const Record*>& causes) {
  if (causes.size() != 1 || !c.parent) return ReasonCode::LineageInvalid;
  const Record& selection = *causes[0];
  if (selection.kind != Kind::Selection || !in.state.accepted(selection.id)) return ReasonCode::LineageInvalid;
  if (in.rules.reject_compromised_continuation && !in.state.live(selection.id)) return ReasonCode::LineageInvalid;
  auto chosen = decode_selection_data(selection.payload_json());
  if (!chosen) return ReasonCode::InvalidPayload;
  const auto& selected = chosen->outcome.selected;
  if (!selected || std::find(selected->begin(), selected->end(), *c.parent) == selected->end())
    return ReasonCode::LineageInvalid;
  return Judgement::accept();
}

Judgement check_lineage(const CheckInput& in, const CandidateData& c, const std::vector<const Record*>& causes) {
  switch (c.basis) {
    case CandidateBasis::Root:
      if (c.parent || causes.size() > 1) return ReasonCode::LineageInvalid;
      if (causes.size() == 1 && (causes[0]->kind != Kind::Request || !in.state.accepted(causes[0]->id)))
        return ReasonCode::LineageInvalid;
      return Judgement::accept();
    case CandidateBasis::Continuation: return check_continuation(in, c, causes);
    case CandidateBasis::Derivation:
      if (c.parent || causes.empty()) return ReasonCode::LineageInvalid;
      for (const Record* cause : causes)
        if (!in.state.accepted(cause->id) || (cause->kind != Kind::Candidate && cause->kind != Kind::Evaluation))
          return ReasonCode::LineageInvalid;
      return Judgement::accept();
  }
  return ReasonCode::LineageInvalid;
}

// The candidate, Use and requirement checks shared by the v2 and attested shapes.
Judgement check_evaluation_v2(const CheckInput& in, const EvaluationDataV2& e, bool attested) {
  if (attested) {
    if (!in.record.author.signature) return ReasonCode::SignatureMissing;
    if (!in.rules.author_keys.contains(in.record.author.id)) return ReasonCode::SignatureInvalid;
  }
  if (!names_accepted_candidate(in, e.candidate)) return ReasonCode::PayloadRefUnresolved;
  if (!has_use_ref(in.record.refs, e.candidate)) return ReasonCode::EvaluationInvalid;
  if (e.evaluator.id.empty()) return ReasonCode::EvaluationInvalid;
  if (!artifact_refs_well_formed(e.evidence)) return ReasonCode::ArtifactRefInvalid;
  for (std::size_t i = 1; i < e.requirements.size(); ++i)
    if (!(e.requirements[i - 1] < e.requirements[i])) return ReasonCode::EvaluationInvalid;
  for (const RecordId& id : e.requirements)
    if (!prior_of_kind(in, id, Kind::Requirement) || !in.state.accepted(id) || !has_use_ref(in.record.refs, id))
      return ReasonCode::EvaluationInvalid;
  return Judgement::accept();
}

// Counts the accepted Evaluations the Selection uses; each must judge a
// considered candidate.
Judgement count_used_evaluations(const CheckInput& in, const std::set<RecordId>& considered, std::size_t& count) {
  for (const Ref& ref : in.record.refs) {
    if (ref.type != RefType::Use) continue;
    const Record* target = in.prior.find(ref.target);
    if (!target || target->kind != Kind::Evaluation || !in.state.accepted(ref.target)) continue;
    auto summary = evaluation_summary(target->schema, target->payload_json());
    if (!summary) return ReasonCode::InvalidPayload;
    if (!considered.contains(summary->candidate)) return ReasonCode::SelectionInvalid;
    ++count;
  }
  return Judgement::accept();
}

Judgement check_chosen(const CheckInput& in, const std::vector<RecordId>& chosen, const std::set<RecordId>& considered,
                       std::size_t evaluations) {
  const std::set<RecordId> unique(chosen.begin(), chosen.end());
  if (chosen.empty() || unique.size() != chosen.size()) return ReasonCode::SelectionInvalid;
  for (const RecordId& id : chosen)
    if (!considered.contains(id)) return ReasonCode::SelectionInvalid;
  if (in.rules.min_binding == BindingMode::Manifest) {
    for (const RecordId& id : chosen) {
      const Record* candidate = in.prior.find(id);
      if (!candidate) return ReasonCode::SelectionInvalid;
      auto data = decode_candidate_data(candidate->payload_json());
      if (!data) return ReasonCode::InvalidPayload;
      if (data->source.binding != BindingMode::Manifest) return ReasonCode::SelectionInvalid;
    }
  }
  if (in.rules.selection_requires_evaluation && evaluations == 0) return ReasonCode::SelectionInvalid;
  return Judgement::accept();
}

// Finds the live exact Approval of this Selection and adds it to `expected`.
Judgement check_selection_approval(const CheckInput& in, const SelectionData& s, std::set<RecordId>& expected) {
  auto digest = selection_approval_digest(in.record.author.id, first_target(in.record, RefType::Replace), s);
  if (!digest) return ReasonCode::InvalidPayload;
  auto it = in.state.valid_approvals.find(*digest);
  if (it == in.state.valid_approvals.end()) return ReasonCode::ApprovalMissing;
  const RecordId& approval_id = it->second;
  if (!has_require_ref(in.record.refs, approval_id) || !in.state.live(approval_id)) return ReasonCode::ApprovalMissing;
  const Record* approval = in.prior.find(approval_id);
  if (!approval) return ReasonCode::ApprovalMissing;
  auto data = decode_approval_data(approval->payload_json());
  if (!data) return ReasonCode::InvalidPayload;
  if (!data->actor_id || *data->actor_id != in.record.author.id) return ReasonCode::ApprovalMissing;
  if (data->expiry && in.record.time >= *data->expiry) return ReasonCode::ApprovalExpired;
  expected.insert(approval_id);
  return Judgement::accept();
}

Judgement check_reaffirmation(const CheckInput& in, const SelectionData& s) {
  const auto replaced_id = first_target(in.record, RefType::Replace);
  if (!replaced_id) return Judgement::accept();
  const Record* replaced = in.prior.find(*replaced_id);
  if (!replaced) return ReasonCode::ReaffirmationInvalid;
  auto before = decode_selection_data(replaced->payload_json());
  if (!before) return ReasonCode::InvalidPayload;
  if (before->objective != s.objective) return ReasonCode::ReaffirmationInvalid;
  if (!in.rules.reaffirmation_actors.empty() && !in.rules.reaffirmation_actors.contains(in.record.author.id))
    return ReasonCode::ReaffirmationInvalid;
  return Judgement::accept();
}

}  // namespace

Judgement check_request(const CheckInput& in) {
  const auto* request = payload_as<RequestData>(in);
  if (!request) return ReasonCode::InvalidPayload;
  const auto causes = targets_of(in.record, RefType::Cause);
  for (const RecordId& id : causes) {
    const Record* cause = in.prior.find(id);
    if (!cause) return ReasonCode::RefUnresolved;
    if (cause->kind != Kind::Request || cause->thread != in.record.thread) return ReasonCode::InvalidPayload;
    if (!in.state.accepted(id)) return ReasonCode::RequestMissing;
  }
  if (!causes.empty()) {
    if (!request->parent_request_id || causes.size() != 1 || causes[0] != *request->parent_request_id)
      return ReasonCode::InvalidPayload;
  } else if (request->parent_request_id) {
    return ReasonCode::InvalidPayload;
  }
  return Judgement::accept();
}

Judgement check_requirement(const CheckInput& in) {
  const auto* requirement = payload_as<RequirementData>(in);
  if (!requirement) return ReasonCode::InvalidPayload;
  if (requirement->key.empty() || requirement->description.empty()) return ReasonCode::RequirementInvalid;
  const AuthorType author = in.record.author.type;
  const bool role_ok = requirement->provenance == Provenance::UserAuthored
                           ? author == AuthorType::User
                           : author == AuthorType::Provider || author == AuthorType::System;
  if (!role_ok) return ReasonCode::AuthorRoleInvalid;
  const auto causes = targets_of(in.record, RefType::Cause);
  if (causes.size() != 1) return ReasonCode::RequirementInvalid;
  const Record* request = in.prior.find(causes[0]);
  if (!request || request->kind != Kind::Request || !in.state.accepted(causes[0]) ||
      request->thread != in.record.thread || request->space != in.record.space)
    return ReasonCode::RequirementInvalid;
  auto keys = in.state.requirement_keys.find(causes[0]);
  if (keys != in.state.requirement_keys.end() && keys->second.contains(requirement->key))
    return ReasonCode::RequirementInvalid;
  return Judgement::accept();
}

Judgement check_candidate(const CheckInput& in) {
  const auto* c = payload_as<CandidateData>(in);
  if (!c) return ReasonCode::InvalidPayload;
  QL_JUDGE(check_source_binding(c->source));
  if (c->artifacts && !artifact_refs_well_formed(*c->artifacts)) return ReasonCode::ArtifactRefInvalid;
  if (c->parent && !names_accepted_candidate(in, *c->parent)) return ReasonCode::PayloadRefUnresolved;
  std::vector<const Record*> causes;
  for (const RecordId& id : targets_of(in.record, RefType::Cause)) {
    const Record* cause = in.prior.find(id);
    if (!cause) return ReasonCode::RefUnresolved;
    causes.push_back(cause);
  }
  return check_lineage(in, *c, causes);
}

Judgement check_evaluation(const CheckInput& in) {
  static const Digest kAttested = schema_id("quillane.evaluation.attested.v1");
  if (const auto* v1 = payload_as<EvaluationData>(in)) {
    if (!names_accepted_candidate(in, v1->candidate)) return ReasonCode::PayloadRefUnresolved;
    if (!has_use_ref(in.record.refs, v1->candidate)) return ReasonCode::EvaluationInvalid;
    return Judgement::accept();
  }
  if (const auto* v2 = payload_as<EvaluationDataV2>(in)) return check_evaluation_v2(in, *v2, in.record.schema == kAttested);
  return ReasonCode::InvalidPayload;
}

Judgement check_selection(const CheckInput& in) {
  const auto* s = payload_as<SelectionData>(in);
  if (!s) return ReasonCode::InvalidPayload;
  const std::set<RecordId> considered(s->considered.begin(), s->considered.end());
  if (s->considered.empty() || s->considered.size() > in.rules.max_considered ||
      considered.size() != s->considered.size())
    return ReasonCode::SelectionInvalid;
  for (const RecordId& id : s->considered)
    if (!names_accepted_candidate(in, id)) return ReasonCode::PayloadRefUnresolved;
  std::size_t evaluations = 0;
  QL_JUDGE(count_used_evaluations(in, considered, evaluations));
  std::set<RecordId> expected;
  if (const auto& chosen = s->outcome.selected) {
    QL_JUDGE(check_chosen(in, *chosen, considered, evaluations));
    expected.insert(chosen->begin(), chosen->end());
  }
  if (in.rules.selection_requires_approval) QL_JUDGE(check_selection_approval(in, *s, expected));
  const auto required = targets_of(in.record, RefType::Require);
  if (std::set<RecordId>(required.begin(), required.end()) != expected) return ReasonCode::SelectionInvalid;
  return check_reaffirmation(in, *s);
}

}  // namespace quillane
