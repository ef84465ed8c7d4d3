#include "verify/verifier/check_record.h"

#include <algorithm>
#include <vector>

#include "base/jcs_writer.h"
#include "record/evidence.h"
#include "record/identity.h"
#include "record/payload.h"
#include "record/signing.h"
#include "verify/verifier/kind_checks.h"
#include "verify/verifier/replay.h"

namespace quillane {
namespace {

bool refs_strictly_ascending(const std::vector<Ref>& refs) {
  for (std::size_t i = 1; i < refs.size(); ++i)
    if (!(refs[i - 1] < refs[i])) return false;
  return true;
}

Judgement check_author_role(const Record& record, const VerifierRules& rules) {
  const auto allowed = allowed_author_types(record.kind);
  if (std::find(allowed.begin(), allowed.end(), record.author.type) == allowed.end())
    return ReasonCode::AuthorRoleInvalid;
  auto bound = rules.author_roles.find(record.author.id);
  if (bound == rules.author_roles.end() || bound->second != record.author.type) return ReasonCode::AuthorRoleInvalid;
  return Judgement::accept();
}

Judgement check_signature(const Record& record, const VerifierRules& rules) {
  const auto pinned = rules.author_keys.find(record.author.id);
  const bool has_pinned = pinned != rules.author_keys.end();
  if (!record.author.signature) {
    if (rules.signature_required_kinds.contains(record.kind) || has_pinned) return ReasonCode::SignatureMissing;
    return Judgement::accept();
  }
  auto key = verified_key(record);
  if (!key) return ReasonCode::SignatureInvalid;
  if (has_pinned && !pinned->second.contains(*key)) return ReasonCode::SignatureInvalid;
  return Judgement::accept();
}

Judgement check_references(const Record& record, const Prior& prior, const State& state) {
  for (const Ref& ref : record.refs) {
    const Record* target = prior.find(ref.target);
    if (target == nullptr) return ReasonCode::RefUnresolved;
    if (target->space != record.space) return ReasonCode::RefCrossSpace;
    if (ref.type == RefType::Require && !state.live(ref.target)) return ReasonCode::RefUnresolved;
  }
  return Judgement::accept();
}

bool may_replace(Kind kind) {
  return kind == Kind::Summary || kind == Kind::Approval || kind == Kind::Capability || kind == Kind::Plan ||
         kind == Kind::Selection;
}

Judgement check_replacement(const Record& record, const Prior& prior, const State& state) {
  const Ref* replace = nullptr;
  for (const Ref& ref : record.refs) {
    if (ref.type != RefType::Replace) continue;
    if (replace != nullptr) return ReasonCode::InvalidPayload;
    replace = &ref;
  }
  if (replace == nullptr) return Judgement::accept();
  if (!may_replace(record.kind)) return ReasonCode::ReplacementInvalid;
  const Record* target = prior.find(replace->target);
  if (target == nullptr || !state.accepted(replace->target) || target->kind != record.kind)
    return ReasonCode::ReplacementInvalid;
  return check_replacement_compatibility(record, target->payload_json());
}

Judgement check_evidence(const Record& record, const Prior& prior, const VerifierRules& rules, const State& state) {
  std::vector<Evidence> contributions;
  contributions.reserve(record.refs.size());
  for (const Ref& ref : record.refs) {
    const Record* target = prior.find(ref.target);
    if (target == nullptr) continue;
    if (auto e = ref_evidence(state, ref, *target)) contributions.push_back(*e);
  }
  const Evidence derived = derive_evidence(record.schema, contributions);
  if (derived != record.evidence) return ReasonCode::InvalidPayload;
  auto threshold = rules.evidence_thresholds.find(record.kind);
  if (threshold != rules.evidence_thresholds.end() && !meets_threshold(derived, threshold->second))
    return ReasonCode::EvidenceBelowThreshold;
  return Judgement::accept();
}

// Decodes the payload once for the last two steps; a decode or canonical
// failure is InvalidPayload, an unknown schema UnknownSchema.
struct DecodedPayload {
  Judgement judgement;
  std::optional<Payload> payload;
};

DecodedPayload decode_canonical_payload(const Record& record) {
  auto decoded = decode_payload(record.schema, record.payload_json());
  if (!decoded) return {ReasonCode::UnknownSchema, std::nullopt};
  if (!decoded->ok()) return {ReasonCode::InvalidPayload, std::nullopt};
  auto encoded = canonical_json(payload_json(decoded->value()));
  if (!encoded || *encoded != record.payload_json()) return {ReasonCode::InvalidPayload, std::nullopt};
  return {Judgement::accept(), std::move(*decoded).value()};
}

// Decodes both payloads as `T` and compares what identifies the replaced thing.
template <typename T, typename Decode, typename Same>
Judgement compatible(std::string_view now, std::string_view before, Decode decode, Same same) {
  auto a = decode(now);
  auto b = decode(before);
  if (!a || !b) return ReasonCode::InvalidPayload;
  return same(*a, *b) ? Judgement::accept() : Judgement(ReasonCode::ReplacementInvalid);
}

}  // namespace

Judgement check_replacement_compatibility(const Record& record, std::string_view replaced) {
  const std::string_view now = record.payload_json();
  switch (record.kind) {
    case Kind::Summary:
      return compatible<SummaryData>(now, replaced, decode_summary_data, [](const auto& a, const auto& b) {
        return a.summary_type == b.summary_type && a.subject == b.subject && a.scope == b.scope;
      });
    case Kind::Approval:
      return compatible<ApprovalData>(now, replaced, decode_approval_data, [](const auto& a, const auto& b) {
        if (a.target_action && b.target_action) return a.scope == b.scope && a.target_action == b.target_action;
        return a.action_class && b.action_class && a.action_class == b.action_class && a.scope == b.scope &&
               a.actor_id == b.actor_id;
      });
    case Kind::Capability:
      return compatible<CapabilityData>(now, replaced, decode_capability_data, [](const auto& a, const auto& b) {
        return a.actor_id == b.actor_id && a.action_class == b.action_class && a.scope == b.scope;
      });
    case Kind::Plan:
      return compatible<PlanData>(now, replaced, decode_plan_data,
                                  [](const auto& a, const auto& b) { return a.request_id == b.request_id; });
    default:
      return compatible<SelectionData>(now, replaced, decode_selection_data,
                                       [](const auto&, const auto&) { return true; });
  }
}

Judgement check_payload_decode(const Record& record) { return decode_canonical_payload(record).judgement; }

Judgement check_record(const Record& record, const Prior& prior, const VerifierRules& rules, const State& state) {
  return check_record_with_known_id(record, prior, rules, state, false);
}

Judgement check_record_with_known_id(const Record& record, const Prior& prior, const VerifierRules& rules,
                                     const State& state, bool id_verified) {
  if (record.kind == Kind::Verdict) return check_verdict_record(record, prior, rules);
  if (!id_verified) {
    auto id = compute_id(record);
    if (!id || *id != record.id) return ReasonCode::InvalidPayload;
  }
  if (!refs_strictly_ascending(record.refs)) return ReasonCode::InvalidPayload;
  if (record.space != rules.space) return ReasonCode::InvalidPayload;
  auto schema = rules.kind_schema_map.find(record.schema);
  if (schema == rules.kind_schema_map.end()) return ReasonCode::UnknownSchema;
  if (schema->second != record.kind) return ReasonCode::KindSchemaMismatch;
  QL_JUDGE(check_author_role(record, rules));
  QL_JUDGE(check_signature(record, rules));
  QL_JUDGE(check_references(record, prior, state));
  QL_JUDGE(check_replacement(record, prior, state));
  QL_JUDGE(check_evidence(record, prior, rules, state));
  DecodedPayload decoded = decode_canonical_payload(record);
  QL_JUDGE(decoded.judgement);
  return check_kind_specific(CheckInput{record, *decoded.payload, prior, rules, state});
}

RecordVerdict verify_record(const Record& record, std::span<const Record> prior_records, const VerifierRules& rules,
                            const State& state) {
  const Judgement j = check_record(record, PriorIndex::of(prior_records), rules, state);
  return RecordVerdict{j.accepted(), j.byte()};
}

}  // namespace quillane
