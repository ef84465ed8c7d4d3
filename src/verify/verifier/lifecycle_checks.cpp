// Checks of the work that follows an Action: Responses to the request,
// Results that close the Action, Refusals, Usage reports and Summaries.
#include <cstdint>

#include "base/schema.h"
#include "verify/verifier/kind_checks.h"

namespace quillane {
namespace {

bool same_place(const Record& a, const Record& b) { return a.thread == b.thread && a.space == b.space; }

// The record has exactly one reference of `type`, and it targets `id`.
bool only_ref_of_type_is(const Record& record, RefType type, const RecordId& id) {
  const Ref* only = nullptr;
  for (const Ref& ref : record.refs) {
    if (ref.type != type) continue;
    if (only != nullptr) return false;
    only = &ref;
  }
  return only != nullptr && only->target == id;
}

const Digest& external_receipt_schema() {
  static const Digest id = schema_id("quillane.result.external_receipt.v1");
  return id;
}

const Digest& effect_confirmation_schema() {
  static const Digest id = schema_id("quillane.result.effect_confirmation.v1");
  return id;
}

// An External action's Result is a signed receipt by an author with pinned
// keys; an Internal one must not claim to be a receipt.
Judgement check_exec_mode(const CheckInput& in, ExecMode mode) {
  const bool receipt = in.record.schema == external_receipt_schema();
  if (mode == ExecMode::Internal) return receipt ? Judgement(ReasonCode::InvalidPayload) : Judgement::accept();
  if (!receipt) return ReasonCode::ExternalReceiptRequired;
  if (!in.record.author.signature) return ReasonCode::SignatureMissing;
  if (!in.rules.author_keys.contains(in.record.author.id)) return ReasonCode::SignatureInvalid;
  return Judgement::accept();
}

Judgement check_refusal_target(const CheckInput& in, const RefusalData& refusal, const Record& target) {
  switch (refusal.target_kind) {
    case RefusalTarget::Action:
      if (target.kind != Kind::Action) return ReasonCode::InvalidPayload;
      if (!in.state.open_actions.contains(target.id) || !same_place(target, in.record)) return ReasonCode::ActionClosed;
      return Judgement::accept();
    case RefusalTarget::Request:
      if (target.kind != Kind::Request) return ReasonCode::InvalidPayload;
      if (!in.state.active_requests.contains(target.id) || !same_place(target, in.record))
        return ReasonCode::RequestMissing;
      return Judgement::accept();
    case RefusalTarget::VerifiedEffect:
      if (target.kind != Kind::Result || target.schema != effect_confirmation_schema() ||
          !in.state.accepted(target.id) || !same_place(target, in.record))
        return ReasonCode::InvalidPayload;
      return Judgement::accept();
  }
  return ReasonCode::InvalidPayload;
}

}  // namespace

Judgement check_response(const CheckInput& in) {
  const auto* response = payload_as<ResponseData>(in);
  if (response == nullptr) return ReasonCode::InvalidPayload;
  if (!in.state.active_requests.contains(response->request_id)) return ReasonCode::RequestMissing;
  const Record* request = in.prior.find(response->request_id);
  if (request == nullptr || !same_place(*request, in.record)) return ReasonCode::RequestMissing;

  auto turns = in.state.response_turns.find(response->request_id);
  const std::uint32_t next = turns == in.state.response_turns.end() ? 0 : turns->second;
  if (next == UINT32_MAX || response->turn_index != next) return ReasonCode::InvalidPayload;

  if (response->closes_request) {
    auto open = in.state.request_open_action_count.find(response->request_id);
    if ((open != in.state.request_open_action_count.end() && open->second != 0) ||
        in.state.active_plans.contains(response->request_id))
      return ReasonCode::InvalidPayload;
  }
  return Judgement::accept();
}

Judgement check_result(const CheckInput& in) {
  const auto* result = payload_as<ResultData>(in);
  if (result == nullptr) return ReasonCode::InvalidPayload;
  if (result->artifacts && !artifact_refs_well_formed(*result->artifacts)) return ReasonCode::ArtifactRefInvalid;
  if (!in.state.open_actions.contains(result->action_id)) return ReasonCode::ActionClosed;
  const Record* action = in.prior.find(result->action_id);
  if (action == nullptr || !same_place(*action, in.record)) return ReasonCode::ActionClosed;
  auto data = decode_action_data(action->payload_json());
  if (!data) return ReasonCode::InvalidPayload;
  QL_JUDGE(check_exec_mode(in, data->exec_mode));
  if (!only_ref_of_type_is(in.record, RefType::Cause, result->action_id)) return ReasonCode::InvalidPayload;
  return Judgement::accept();
}

Judgement check_refusal(const CheckInput& in) {
  const auto* refusal = payload_as<RefusalData>(in);
  if (refusal == nullptr) return ReasonCode::InvalidPayload;
  const Record* target = in.prior.find(refusal->target_id);
  if (target == nullptr) return ReasonCode::RequestMissing;
  QL_JUDGE(check_refusal_target(in, *refusal, *target));
  if (!only_ref_of_type_is(in.record, RefType::Cause, refusal->target_id)) return ReasonCode::InvalidPayload;
  return Judgement::accept();
}

Judgement check_usage(const CheckInput& in) {
  const auto* usage = payload_as<UsageData>(in);
  if (usage == nullptr) return ReasonCode::InvalidPayload;
  if (usage->actor != in.record.author.id) return ReasonCode::InvalidPayload;
  const Record* consuming = in.prior.find(usage->consuming_record);
  if (in.prior.find(usage->used_record) == nullptr || consuming == nullptr) return ReasonCode::InvalidPayload;
  if (!in.state.accepted(usage->consuming_record) || (consuming->kind != Kind::Refusal && consuming->kind != Kind::Result) ||
      consuming->thread != in.record.thread)
    return ReasonCode::InvalidPayload;
  if (!only_ref_of_type_is(in.record, RefType::Use, usage->used_record)) return ReasonCode::InvalidPayload;
  return Judgement::accept();
}

Judgement check_summary(const CheckInput& in) {
  const auto* summary = payload_as<SummaryData>(in);
  if (summary == nullptr) return ReasonCode::InvalidPayload;
  if (!in.rules.allowed_summary_types.contains(summary->summary_type)) return ReasonCode::InvalidPayload;
  for (const Ref& ref : in.record.refs)
    if (ref.type == RefType::Use) return Judgement::accept();
  return ReasonCode::InvalidPayload;
}

}  // namespace quillane
