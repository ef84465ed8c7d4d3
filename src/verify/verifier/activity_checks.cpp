// The Action check: a live request, a live Capability of the author for the
// class and scope, and, when the Capability asks, an Approval that covers
// this action's content or its class.
#include <variant>

#include "state/approval_digests.h"
#include "verify/verifier/kind_checks.h"

namespace quillane {
namespace {

bool same_place(const Record& a, const Record& b) { return a.thread == b.thread && a.space == b.space; }

// A prior, accepted Approval that is neither retracted nor tainted.
bool live_approval(const CheckInput& in, const RecordId& id) {
  return in.prior.find(id) != nullptr && in.state.live(id);
}

// Either the approving Approval or the reason none approves.
using ApprovalFound = std::variant<RecordId, ReasonCode>;

bool covers(const ApprovalData& approval, std::uint64_t time) { return !approval.expiry || time < *approval.expiry; }

// The exact approval of this action's content, when one is live and fits the
// author, scope and time; anything less is passed over.
std::optional<ApprovalFound> exact_approval(const CheckInput& in, const ActionData& action) {
  auto digest = action_approval_digest(in.record.author.id, action);
  if (!digest) return ReasonCode::InvalidPayload;
  auto it = in.state.valid_approvals.find(*digest);
  if (it == in.state.valid_approvals.end() || !live_approval(in, it->second)) return std::nullopt;
  auto approval = decode_approval_data(in.prior.find(it->second)->payload_json());
  if (!approval) return ReasonCode::InvalidPayload;
  if (approval->actor_id == in.record.author.id && approval->scope == action.scope &&
      covers(*approval, in.record.time))
    return it->second;
  return std::nullopt;
}

// The class approval limited to the author; an expired one is final.
std::optional<ApprovalFound> actor_class_approval(const CheckInput& in, const ActionData& action) {
  auto it = in.state.class_approvals.find(ClassApprovalKey{action.action_class, action.scope, in.record.author.id});
  if (it == in.state.class_approvals.end() || !live_approval(in, it->second)) return std::nullopt;
  auto approval = decode_approval_data(in.prior.find(it->second)->payload_json());
  if (!approval) return ReasonCode::InvalidPayload;
  if (!covers(*approval, in.record.time)) return ReasonCode::ApprovalExpired;
  return it->second;
}

// The class approval for any actor; a compromised one is final.
std::optional<ApprovalFound> any_actor_class_approval(const CheckInput& in, const ActionData& action) {
  auto it = in.state.class_approvals.find(ClassApprovalKey{action.action_class, action.scope, std::nullopt});
  if (it == in.state.class_approvals.end()) return std::nullopt;
  const Record* record = in.prior.find(it->second);
  if (record == nullptr || !in.state.accepted(it->second)) return std::nullopt;
  if (!in.state.live(it->second)) return ReasonCode::ApprovalMissing;
  auto approval = decode_approval_data(record->payload_json());
  if (!approval) return ReasonCode::InvalidPayload;
  if (!covers(*approval, in.record.time)) return ReasonCode::ApprovalExpired;
  return it->second;
}

ApprovalFound check_approval_for_action(const CheckInput& in, const ActionData& action) {
  if (auto found = exact_approval(in, action)) return *found;
  if (auto found = actor_class_approval(in, action)) return *found;
  if (auto found = any_actor_class_approval(in, action)) return *found;
  return ReasonCode::ApprovalMissing;
}

Judgement check_request_of(const CheckInput& in, const ActionData& action) {
  if (!in.state.active_requests.contains(action.request_id)) return ReasonCode::RequestMissing;
  const Record* request = in.prior.find(action.request_id);
  if (request == nullptr || !same_place(*request, in.record)) return ReasonCode::RequestMissing;
  auto data = decode_request_data(request->payload_json());
  if (!data) return ReasonCode::InvalidPayload;
  if (data->scope != action.scope) return ReasonCode::InvalidPayload;
  return Judgement::accept();
}

}  // namespace

Judgement check_action(const CheckInput& in) {
  const auto* action = payload_as<ActionData>(in);
  if (action == nullptr) return ReasonCode::InvalidPayload;
  QL_JUDGE(check_request_of(in, *action));

  auto entry = in.state.active_capabilities.find(CapabilityKey{in.record.author.id, action->action_class, action->scope});
  if (entry == in.state.active_capabilities.end()) return ReasonCode::CapabilityMissing;
  const RecordId& capability_id = entry->second;
  const Record* capability = in.prior.find(capability_id);
  if (capability == nullptr || in.state.retracted_records.contains(capability_id) ||
      in.state.tainted_records.contains(capability_id))
    return ReasonCode::CapabilityMissing;
  auto grant = decode_capability_data(capability->payload_json());
  if (!grant) return ReasonCode::InvalidPayload;
  if (grant->expiry && in.record.time >= *grant->expiry) return ReasonCode::CapabilityMissing;

  switch (grant->mode) {
    case CapabilityMode::Deny: return ReasonCode::CapabilityDenied;
    case CapabilityMode::Auto:
      if (!has_require_ref(in.record.refs, capability_id)) return ReasonCode::AuthorityRefMissing;
      return Judgement::accept();
    case CapabilityMode::Ask: {
      const ApprovalFound found = check_approval_for_action(in, *action);
      if (const auto* reason = std::get_if<ReasonCode>(&found)) return *reason;
      if (!has_require_ref(in.record.refs, capability_id) ||
          !has_require_ref(in.record.refs, std::get<RecordId>(found)))
        return ReasonCode::AuthorityRefMissing;
      return Judgement::accept();
    }
  }
  return ReasonCode::CapabilityDenied;
}

}  // namespace quillane
