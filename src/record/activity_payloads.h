// Payloads of the work-activity kinds (Action, Response, Result, Summary,
// Capability, Usage, Refusal, Approval, Plan): strict decoding from a record's
// data bytes and the value tree whose canonical bytes are the encoding.
//
// Optional keys without a default decode from absent or null as none and are
// written as null; keys with a default may be absent but not null. The one
// exception to writing every key is ResultData's `artifacts`, left out when none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/digest.h"
#include "base/json_reader.h"
#include "base/json_value.h"
#include "base/result.h"
#include "record/activity_enums.h"
#include "record/artifact_ref.h"
#include "record/enums.h"

namespace quillane {

struct ActionData {
  Digest request_id{};
  std::string action_class;
  Digest scope{};
  ExecMode exec_mode = ExecMode::Internal;
  Json params;

  bool operator==(const ActionData&) const = default;
};

struct ResponseData {
  Digest request_id{};
  std::string content;
  std::uint32_t turn_index = 0;
  bool closes_request = false;

  bool operator==(const ResponseData&) const = default;
};

struct ResultData {
  Digest action_id{};
  ResultStatus status = ResultStatus::Success;
  std::string output;
  std::optional<std::vector<ArtifactRef>> artifacts;

  bool operator==(const ResultData&) const = default;
};

struct SummaryData {
  SummaryType summary_type = SummaryType::Procedure;
  Digest subject{};
  Digest scope{};
  std::vector<std::uint8_t> claim_payload;

  bool operator==(const SummaryData&) const = default;
};

struct CapabilityData {
  std::string actor_id;
  std::string action_class;
  Digest scope{};
  CapabilityMode mode = CapabilityMode::Auto;
  std::optional<std::uint64_t> expiry;

  bool operator==(const CapabilityData&) const = default;
};

struct UsageData {
  std::string actor;
  Digest used_record{};
  Digest consuming_record{};
  std::string role;
  UsageOutcome outcome = UsageOutcome::Done;

  bool operator==(const UsageData&) const = default;
};

struct RefusalData {
  Digest target_id{};
  RefusalTarget target_kind = RefusalTarget::Action;
  std::optional<ReasonCode> reason_code;

  bool operator==(const RefusalData&) const = default;
};

// Exact approval (target_action, the action approval digest) or class
// approval (action_class); which one is present is checked by the verifier.
struct ApprovalData {
  std::optional<Digest> target_action;
  std::optional<std::string> action_class;
  Digest scope{};
  std::optional<std::string> actor_id;
  std::optional<std::uint64_t> expiry;

  bool operator==(const ApprovalData&) const = default;
};

struct PlanTask {
  std::string id;
  std::string description;
  PlanTaskKind kind = PlanTaskKind::Generic;
  std::optional<std::string> tool_hint;
  std::vector<std::string> inputs_from;
  std::optional<std::string> produces;
  TaskDoneWhen done_when = TaskDoneWhen::ToolSuccess;
  TaskStatus status = TaskStatus::Pending;
  std::optional<Digest> result_record_id;
  std::vector<std::string> depends_on;
  FailurePolicy on_failure = FailurePolicy::Continue;

  bool operator==(const PlanTask&) const = default;
};

struct PlanData {
  Digest request_id{};
  std::vector<PlanTask> tasks;
  PlanStatus status = PlanStatus::Running;

  bool operator==(const PlanData&) const = default;
};

// Tally of usage outcomes for one used record and role (derived state).
struct UsageOutcomeCounts {
  std::uint64_t done = 0;
  std::uint64_t not_done = 0;
  std::uint64_t no_change = 0;

  bool operator==(const UsageOutcomeCounts&) const = default;
};

// read_x decodes the value at the reader's position; decode_x decodes a whole
// text (nothing but white space after the value); x_json builds the value
// tree with the keys in declaration order.
Result<ActionData> read_action_data(JsonReader& r);
Result<ActionData> decode_action_data(std::string_view bytes);
Json action_data_json(const ActionData& v);

Result<ResponseData> read_response_data(JsonReader& r);
Result<ResponseData> decode_response_data(std::string_view bytes);
Json response_data_json(const ResponseData& v);

Result<ResultData> read_result_data(JsonReader& r);
Result<ResultData> decode_result_data(std::string_view bytes);
Json result_data_json(const ResultData& v);

Result<SummaryData> read_summary_data(JsonReader& r);
Result<SummaryData> decode_summary_data(std::string_view bytes);
Json summary_data_json(const SummaryData& v);

Result<CapabilityData> read_capability_data(JsonReader& r);
Result<CapabilityData> decode_capability_data(std::string_view bytes);
Json capability_data_json(const CapabilityData& v);

Result<UsageData> read_usage_data(JsonReader& r);
Result<UsageData> decode_usage_data(std::string_view bytes);
Json usage_data_json(const UsageData& v);

Result<RefusalData> read_refusal_data(JsonReader& r);
Result<RefusalData> decode_refusal_data(std::string_view bytes);
Json refusal_data_json(const RefusalData& v);

Result<ApprovalData> read_approval_data(JsonReader& r);
Result<ApprovalData> decode_approval_data(std::string_view bytes);
Json approval_data_json(const ApprovalData& v);

Result<PlanTask> read_plan_task(JsonReader& r);
Json plan_task_json(const PlanTask& v);

Result<PlanData> read_plan_data(JsonReader& r);
Result<PlanData> decode_plan_data(std::string_view bytes);
Json plan_data_json(const PlanData& v);

Json usage_outcome_counts_json(const UsageOutcomeCounts& v);

}  // namespace quillane
