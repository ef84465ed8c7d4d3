#include "state/state.h"

#include <atomic>
#include <vector>

#include "base/schema.h"
#include "record/evolution_payloads.h"
#include "state/approval_digests.h"

namespace quillane {
namespace {

std::optional<RecordId> first_ref(const Record& record, RefType type) {
  for (const Ref& ref : record.refs)
    if (ref.type == type) return ref.target;
  return std::nullopt;
}

bool has_require(const Record& record, const RecordId& target) {
  for (const Ref& ref : record.refs)
    if (ref.type == RefType::Require && ref.target == target) return true;
  return false;
}

void note_replacement(State& state, const Record& record) {
  if (auto target = first_ref(record, RefType::Replace)) state.replaced_records.insert(*target);
}

// Removes an exact approval when `digest` names one that the record Requires.
void consume_exact_approval(State& state, const Record& record, const Digest& digest) {
  auto it = state.valid_approvals.find(digest);
  if (it == state.valid_approvals.end() || !has_require(record, it->second)) return;
  state.exact_approval_index.erase(it->second);
  state.valid_approvals.erase(it);
}

void close_request(State& state, const RecordId& request) {
  state.active_requests.erase(request);
  state.active_plans.erase(request);
}

Status apply_action(State& state, const Record& record) {
  QL_ASSIGN(ActionData action, decode_action_data(record.payload_json()));
  QL_ASSIGN(Digest digest, action_approval_digest(record.author.id, action));
  consume_exact_approval(state, record, digest);
  state.open_actions.insert(record.id);
  state.action_to_request[record.id] = action.request_id;
  ++state.request_open_action_count[action.request_id];
  return {};
}

Status apply_response(State& state, const Record& record) {
  QL_ASSIGN(ResponseData response, decode_response_data(record.payload_json()));
  std::uint32_t& turns = state.response_turns[response.request_id];
  if (turns != UINT32_MAX) ++turns;
  if (response.closes_request) close_request(state, response.request_id);
  return {};
}

Status apply_result(State& state, const Record& record) {
  QL_ASSIGN(ResultData result, decode_result_data(record.payload_json()));
  state.open_actions.erase(result.action_id);
  close_action_for_request(state, result.action_id);
  return {};
}

Status apply_summary(State& state, const Record& record) {
  QL_ASSIGN(SummaryData summary, decode_summary_data(record.payload_json()));
  note_replacement(state, record);
  QL_ASSIGN(Digest identity, summary_identity_digest(summary));
  state.active_summaries[identity] = record.id;
  return {};
}

Status apply_approval(State& state, const Record& record) {
  QL_ASSIGN(ApprovalData approval, decode_approval_data(record.payload_json()));
  note_replacement(state, record);
  if (approval.target_action) {
    state.valid_approvals[*approval.target_action] = record.id;
    state.exact_approval_index[record.id] = *approval.target_action;
  }
  if (approval.action_class) {
    ClassApprovalKey key{*approval.action_class, approval.scope, approval.actor_id};
    state.class_approvals[key] = record.id;
    state.class_approval_index[record.id] = std::move(key);
  }
  return {};
}

Status apply_capability(State& state, const Record& record) {
  QL_ASSIGN(CapabilityData capability, decode_capability_data(record.payload_json()));
  note_replacement(state, record);
  CapabilityKey key{capability.actor_id, capability.action_class, capability.scope};
  state.active_capabilities[key] = record.id;
  state.capability_index[record.id] = std::move(key);
  return {};
}

Status apply_usage(State& state, const Record& record) {
  QL_ASSIGN(UsageData usage, decode_usage_data(record.payload_json()));
  UsageOutcomeCounts& counts = state.usage_counts[{usage.used_record, usage.role}];
  switch (usage.outcome) {
    case UsageOutcome::Done: ++counts.done; break;
    case UsageOutcome::NotDone: ++counts.not_done; break;
    case UsageOutcome::NoChange: ++counts.no_change; break;
  }
  return {};
}

Status apply_refusal(State& state, const Record& record) {
  QL_ASSIGN(RefusalData refusal, decode_refusal_data(record.payload_json()));
  switch (refusal.target_kind) {
    case RefusalTarget::Action:
      state.open_actions.erase(refusal.target_id);
      close_action_for_request(state, refusal.target_id);
      break;
    case RefusalTarget::Request: close_request(state, refusal.target_id); break;
    case RefusalTarget::VerifiedEffect: break;
  }
  return {};
}

Status apply_plan(State& state, const Record& record) {
  QL_ASSIGN(PlanData plan, decode_plan_data(record.payload_json()));
  note_replacement(state, record);
  state.active_plans[plan.request_id] = record.id;
  if (plan.status != PlanStatus::Running) state.active_plans.erase(plan.request_id);
  return {};
}

// Removes a live-map entry only while it still points to `id`.
template <typename Map, typename Key>
void erase_if_points_to(Map& live, const Key& key, const RecordId& id) {
  auto it = live.find(key);
  if (it != live.end() && it->second == id) live.erase(it);
}

Status apply_retraction(State& state, const Record& record) {
  QL_ASSIGN(RetractionData retraction, decode_retraction_data(record.payload_json()));
  const RecordId& target = retraction.target_id;
  state.retracted_records.insert(target);
  if (auto it = state.epistemic_dependents.find(target); it != state.epistemic_dependents.end()) {
    const std::vector<RecordId> dependents(it->second.begin(), it->second.end());
    for (const RecordId& d : dependents) mark_tainted(state, d);
  }
  if (auto it = state.capability_index.find(target); it != state.capability_index.end())
    erase_if_points_to(state.active_capabilities, it->second, target);
  if (auto it = state.exact_approval_index.find(target); it != state.exact_approval_index.end())
    erase_if_points_to(state.valid_approvals, it->second, target);
  if (auto it = state.class_approval_index.find(target); it != state.class_approval_index.end())
    erase_if_points_to(state.class_approvals, it->second, target);
  if (auto it = state.requirement_index.find(target); it != state.requirement_index.end()) {
    const auto& [request, key] = it->second;
    if (auto keys = state.requirement_keys.find(request); keys != state.requirement_keys.end()) {
      keys->second.erase(key);
      if (keys->second.empty()) state.requirement_keys.erase(keys);
    }
  }
  return {};
}

Status apply_selection(State& state, const Record& record) {
  QL_ASSIGN(SelectionData selection, decode_selection_data(record.payload_json()));
  const auto replaces = first_ref(record, RefType::Replace);
  if (replaces) state.replaced_records.insert(*replaces);
  QL_ASSIGN(Digest digest, selection_approval_digest(record.author.id, replaces, selection));
  consume_exact_approval(state, record, digest);
  return {};
}

Status apply_requirement(State& state, const Record& record) {
  QL_ASSIGN(RequirementData requirement, decode_requirement_data(record.payload_json()));
  const auto request = first_ref(record, RefType::Cause);
  if (!request) return {};
  state.requirement_keys[*request].insert(requirement.key);
  state.requirement_index[record.id] = {*request, requirement.key};
  return {};
}

// Payloads of the evolution kinds that have no effect of their own still
// have to decode.
template <typename Decode>
Status check_decodes(const Record& record, Decode decode) {
  auto decoded = decode(record.payload_json());
  if (!decoded) return std::move(decoded).error();
  return {};
}

Status apply_kind(State& state, const Record& record) {
  switch (record.kind) {
    case Kind::Request: {
      QL_TRY(check_decodes(record, decode_request_data));
      state.active_requests.insert(record.id);
      return {};
    }
    case Kind::Action: return apply_action(state, record);
    case Kind::Response: return apply_response(state, record);
    case Kind::Result: return apply_result(state, record);
    case Kind::Summary: return apply_summary(state, record);
    case Kind::Approval: return apply_approval(state, record);
    case Kind::Capability: return apply_capability(state, record);
    case Kind::Usage: return apply_usage(state, record);
    case Kind::Refusal: return apply_refusal(state, record);
    case Kind::Plan: return apply_plan(state, record);
    case Kind::Retraction: return apply_retraction(state, record);
    case Kind::Selection: return apply_selection(state, record);
    case Kind::Requirement: return apply_requirement(state, record);
    case Kind::Candidate:
    case Kind::Evaluation:
    case Kind::Verdict: return {};
  }
  return {};
}

}  // namespace

std::uint64_t StateStamp::fresh() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

Status apply_record(State& state, const Record& record, const StatedVerdict& verdict) {
  if (verdict.result != VerdictResult::Accept) return {};
  state.stamp.value = StateStamp::fresh();
  state.accepted_records.insert(record.id);
  bool rests_on_compromised = false;
  for (const Ref& ref : record.refs) {
    if (ref.type != RefType::Use && ref.type != RefType::Require) continue;
    state.epistemic_dependents[ref.target].insert(record.id);
    if (state.retracted_records.contains(ref.target) || state.tainted_records.contains(ref.target))
      rests_on_compromised = true;
  }
  if (rests_on_compromised) mark_tainted(state, record.id);
  return apply_kind(state, record);
}

void mark_tainted(State& state, const RecordId& id) {
  state.stamp.value = StateStamp::fresh();
  std::vector<RecordId> work{id};
  while (!work.empty()) {
    const RecordId next = work.back();
    work.pop_back();
    if (!state.tainted_records.insert(next).second) continue;
    if (auto it = state.epistemic_dependents.find(next); it != state.epistemic_dependents.end())
      work.insert(work.end(), it->second.begin(), it->second.end());
  }
}

void close_action_for_request(State& state, const RecordId& action_id) {
  auto request = state.action_to_request.find(action_id);
  if (request == state.action_to_request.end()) return;
  auto count = state.request_open_action_count.find(request->second);
  if (count == state.request_open_action_count.end()) return;
  if (count->second <= 1) state.request_open_action_count.erase(count);
  else --count->second;
}

std::optional<Evidence> ref_evidence(const State& state, const Ref& ref, const Record& target) {
  if (ref.type != RefType::Use && ref.type != RefType::Require) return std::nullopt;
  if (!state.live(ref.target)) return Evidence::Assumed;
  return target.evidence;
}

Result<State> build_state_unchecked(std::span<const Record> records) {
  State state;
  std::map<RecordId, StatedVerdict> verdicts;
  for (const Record& record : records) {
    if (record.kind != Kind::Verdict) continue;
    QL_ASSIGN(VerdictData data, decode_verdict_data(record.payload_json()));
    for (const Ref& ref : record.refs) {
      if (ref.type != RefType::Cause) continue;
      verdicts[ref.target] = StatedVerdict{data.result, data.reason};
      break;
    }
  }
  for (const Record& record : records) {
    if (record.kind == Kind::Verdict) continue;
    auto it = verdicts.find(record.id);
    if (it != verdicts.end()) QL_TRY(apply_record(state, record, it->second));
  }
  if (!records.empty()) state.applied_up_to = records.back().time;
  return state;
}

}  // namespace quillane
