// State: what the accepted records of a log add up to. Every field is an
// ordered container so that equality and the serialised form are exact.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "base/digest.h"
#include "base/json_value.h"
#include "base/result.h"
#include "record/activity_payloads.h"
#include "record/record.h"

namespace quillane {

// (actor id, action class, scope) of a Capability.
using CapabilityKey = std::tuple<std::string, std::string, Digest>;
// (action class, scope, actor id or none) of a class Approval.
using ClassApprovalKey = std::tuple<std::string, Digest, std::optional<std::string>>;

// Changes, to a value never used before in this process, whenever
// apply_record or mark_tainted changes a state, and whenever a state is
// copied or assigned. It lets the log writer recognise the state object it
// last brought up to date without comparing every field. It takes no part
// in equality.
struct StateStamp {
  std::uint64_t value = fresh();
  StateStamp() = default;
  StateStamp(const StateStamp&) : value(fresh()) {}
  StateStamp& operator=(const StateStamp&) {
    value = fresh();
    return *this;
  }
  bool operator==(const StateStamp&) const { return true; }
  static std::uint64_t fresh();
};

struct State {
  std::set<RecordId> accepted_records;
  std::set<RecordId> active_requests;
  std::map<CapabilityKey, RecordId> active_capabilities;
  std::map<Digest, RecordId> valid_approvals;
  std::map<ClassApprovalKey, RecordId> class_approvals;
  std::set<RecordId> open_actions;
  std::map<RecordId, RecordId> action_to_request;
  std::map<Digest, RecordId> active_summaries;
  std::set<RecordId> replaced_records;
  std::map<RecordId, std::uint64_t> request_open_action_count;
  std::map<std::pair<RecordId, std::string>, UsageOutcomeCounts> usage_counts;
  std::map<RecordId, RecordId> active_plans;
  std::map<RecordId, std::uint32_t> response_turns;
  std::map<RecordId, CapabilityKey> capability_index;
  std::map<RecordId, Digest> exact_approval_index;
  std::map<RecordId, ClassApprovalKey> class_approval_index;
  std::set<RecordId> retracted_records;
  std::set<RecordId> tainted_records;
  std::map<RecordId, std::set<RecordId>> epistemic_dependents;
  std::map<RecordId, std::set<std::string>> requirement_keys;
  std::map<RecordId, std::pair<RecordId, std::string>> requirement_index;
  std::uint64_t applied_up_to = 0;
  StateStamp stamp;

  bool operator==(const State&) const = default;

  bool accepted(const RecordId& id) const { return accepted_records.contains(id); }
  // Accepted and neither retracted nor tainted.
  bool live(const RecordId& id) const {
    return accepted(id) && !retracted_records.contains(id) && !tainted_records.contains(id);
  }
};

// The stated judgement of a record: its Verdict's result and reason.
struct StatedVerdict {
  VerdictResult result = VerdictResult::Accept;
  std::optional<ReasonCode> reason;
};

// Applies an accepted record; a rejected one changes nothing. Fails only
// when the payload does not decode, leaving the generic effects applied.
Status apply_record(State& state, const Record& record, const StatedVerdict& verdict);

// Taints `id` and, transitively, every accepted record that rests on it.
void mark_tainted(State& state, const RecordId& id);

// Lowers the open-action count of the Action's request.
void close_action_for_request(State& state, const RecordId& action_id);

// Evidence that one reference contributes: only Use and Require carry it;
// an unaccepted, retracted or tainted target contributes Assumed.
std::optional<Evidence> ref_evidence(const State& state, const Ref& ref, const Record& target);

// Rebuilds the state from a log's records and Verdicts without judging.
Result<State> build_state_unchecked(std::span<const Record> records);

// The serialised form: sets as arrays, maps as arrays of [key, value].
Json state_json(const State& state);

}  // namespace quillane
