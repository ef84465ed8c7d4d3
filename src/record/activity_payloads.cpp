#include "record/activity_payloads.h"

#include <array>
#include <utility>

#include "base/strict_decoders.h"

namespace quillane {
namespace {

constexpr std::array<std::string_view, 5> kActionFields = {"request_id", "action_class", "scope", "exec_mode",
                                                           "params"};
constexpr std::array<std::string_view, 4> kResponseFields = {"request_id", "content", "turn_index",
                                                             "closes_request"};
constexpr std::array<std::string_view, 4> kResultFields = {"action_id", "status", "output", "artifacts"};
constexpr std::array<std::string_view, 4> kSummaryFields = {"summary_type", "subject", "scope", "claim_payload"};
constexpr std::array<std::string_view, 5> kCapabilityFields = {"actor_id", "action_class", "scope", "mode",
                                                               "expiry"};
constexpr std::array<std::string_view, 5> kUsageFields = {"actor", "used_record", "consuming_record", "role",
                                                          "outcome"};
constexpr std::array<std::string_view, 3> kRefusalFields = {"target_id", "target_kind", "reason_code"};
constexpr std::array<std::string_view, 5> kApprovalFields = {"target_action", "action_class", "scope",
                                                             "actor_id", "expiry"};

// Only `scope` is required.
constexpr std::uint64_t kApprovalRequired = std::uint64_t{1} << 2;

Result<std::uint32_t> read_u32(JsonReader& r) {
  QL_ASSIGN(std::uint64_t n, r.read_unsigned(UINT32_MAX, "u32"));
  return static_cast<std::uint32_t>(n);
}

Result<std::uint64_t> read_u64(JsonReader& r) { return r.read_unsigned(UINT64_MAX, "u64"); }

Result<std::optional<std::string>> read_optional_text(JsonReader& r) {
  return read_optional<std::string>(r, read_text);
}

Result<std::optional<std::uint64_t>> read_optional_u64(JsonReader& r) {
  return read_optional<std::uint64_t>(r, read_u64);
}

Json text_json(const std::string& s) { return Json(s); }
Json u64_json(std::uint64_t n) { return Json(n); }

}  // namespace

// ActionData

Result<ActionData> read_action_data(JsonReader& r) {
  ActionData v;
  FieldSet fields(kActionFields, FieldSet::first(kActionFields.size()));
  QL_TRY(read_fields(r, "struct ActionData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.request_id, read_digest(r));
      case 1: return store(v.action_class, read_text(r));
      case 2: return store(v.scope, read_digest(r));
      case 3: return store(v.exec_mode, read_enum<ExecMode>(r));
      default: return store(v.params, r.read_value());
    }
  }));
  return v;
}

Result<ActionData> decode_action_data(std::string_view bytes) { return decode_whole(bytes, read_action_data); }

Json action_data_json(const ActionData& v) {
  JsonObject o;
  o.reserve(5);
  o.emplace_back("request_id", digest_json(v.request_id));
  o.emplace_back("action_class", Json(v.action_class));
  o.emplace_back("scope", digest_json(v.scope));
  o.emplace_back("exec_mode", enum_json(v.exec_mode));
  o.emplace_back("params", v.params);
  return Json(std::move(o));
}

// ResponseData

Result<ResponseData> read_response_data(JsonReader& r) {
  ResponseData v;
  FieldSet fields(kResponseFields, FieldSet::first(kResponseFields.size()));
  QL_TRY(read_fields(r, "struct ResponseData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.request_id, read_digest(r));
      case 1: return store(v.content, read_text(r));
      case 2: return store(v.turn_index, read_u32(r));
      default: return store(v.closes_request, r.read_bool("a boolean"));
    }
  }));
  return v;
}

Result<ResponseData> decode_response_data(std::string_view bytes) {
  return decode_whole(bytes, read_response_data);
}

Json response_data_json(const ResponseData& v) {
  JsonObject o;
  o.reserve(4);
  o.emplace_back("request_id", digest_json(v.request_id));
  o.emplace_back("content", Json(v.content));
  o.emplace_back("turn_index", Json(v.turn_index));
  o.emplace_back("closes_request", Json(v.closes_request));
  return Json(std::move(o));
}

// ResultData

Result<ResultData> read_result_data(JsonReader& r) {
  ResultData v;
  FieldSet fields(kResultFields, FieldSet::first(3));
  QL_TRY(read_fields(r, "struct ResultData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.action_id, read_digest(r));
      case 1: return store(v.status, read_enum<ResultStatus>(r));
      case 2: return store(v.output, read_text(r));
      default:
        return store(v.artifacts, read_optional<std::vector<ArtifactRef>>(r, [](JsonReader& in) {
                       return read_list<ArtifactRef>(in, read_artifact_ref);
                     }));
    }
  }));
  return v;
}

Result<ResultData> decode_result_data(std::string_view bytes) { return decode_whole(bytes, read_result_data); }

Json result_data_json(const ResultData& v) {
  JsonObject o;
  o.reserve(4);
  o.emplace_back("action_id", digest_json(v.action_id));
  o.emplace_back("status", enum_json(v.status));
  o.emplace_back("output", Json(v.output));
  // Left out, not null, when there are none.
  if (v.artifacts) o.emplace_back("artifacts", list_json(*v.artifacts, artifact_ref_json));
  return Json(std::move(o));
}

// SummaryData

Result<SummaryData> read_summary_data(JsonReader& r) {
  SummaryData v;
  FieldSet fields(kSummaryFields, FieldSet::first(kSummaryFields.size()));
  QL_TRY(read_fields(r, "struct SummaryData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.summary_type, read_enum<SummaryType>(r));
      case 1: return store(v.subject, read_digest(r));
      case 2: return store(v.scope, read_digest(r));
      default: return store(v.claim_payload, r.read_bytes("a sequence"));
    }
  }));
  return v;
}

Result<SummaryData> decode_summary_data(std::string_view bytes) { return decode_whole(bytes, read_summary_data); }

Json summary_data_json(const SummaryData& v) {
  JsonObject o;
  o.reserve(4);
  o.emplace_back("summary_type", enum_json(v.summary_type));
  o.emplace_back("subject", digest_json(v.subject));
  o.emplace_back("scope", digest_json(v.scope));
  o.emplace_back("claim_payload", bytes_json(v.claim_payload));
  return Json(std::move(o));
}

// CapabilityData

Result<CapabilityData> read_capability_data(JsonReader& r) {
  CapabilityData v;
  FieldSet fields(kCapabilityFields, FieldSet::first(4));
  QL_TRY(read_fields(r, "struct CapabilityData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.actor_id, read_text(r));
      case 1: return store(v.action_class, read_text(r));
      case 2: return store(v.scope, read_digest(r));
      case 3: return store(v.mode, read_enum<CapabilityMode>(r));
      default: return store(v.expiry, read_optional_u64(r));
    }
  }));
  return v;
}

Result<CapabilityData> decode_capability_data(std::string_view bytes) {
  return decode_whole(bytes, read_capability_data);
}

Json capability_data_json(const CapabilityData& v) {
  JsonObject o;
  o.reserve(5);
  o.emplace_back("actor_id", Json(v.actor_id));
  o.emplace_back("action_class", Json(v.action_class));
  o.emplace_back("scope", digest_json(v.scope));
  o.emplace_back("mode", enum_json(v.mode));
  o.emplace_back("expiry", optional_json(v.expiry, u64_json));
  return Json(std::move(o));
}

// UsageData

Result<UsageData> read_usage_data(JsonReader& r) {
  UsageData v;
  FieldSet fields(kUsageFields, FieldSet::first(kUsageFields.size()));
  QL_TRY(read_fields(r, "struct UsageData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.actor, read_text(r));
      case 1: return store(v.used_record, read_digest(r));
      case 2: return store(v.consuming_record, read_digest(r));
      case 3: return store(v.role, read_text(r));
      default: return store(v.outcome, read_enum<UsageOutcome>(r));
    }
  }));
  return v;
}

Result<UsageData> decode_usage_data(std::string_view bytes) { return decode_whole(bytes, read_usage_data); }

Json usage_data_json(const UsageData& v) {
  JsonObject o;
  o.reserve(5);
  o.emplace_back("actor", Json(v.actor));
  o.emplace_back("used_record", digest_json(v.used_record));
  o.emplace_back("consuming_record", digest_json(v.consuming_record));
  o.emplace_back("role", Json(v.role));
  o.emplace_back("outcome", enum_json(v.outcome));
  return Json(std::move(o));
}

// RefusalData

Result<RefusalData> read_refusal_data(JsonReader& r) {
  RefusalData v;
  FieldSet fields(kRefusalFields, FieldSet::first(2));
  QL_TRY(read_fields(r, "struct RefusalData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.target_id, read_digest(r));
      case 1: return store(v.target_kind, read_enum<RefusalTarget>(r));
      default: return store(v.reason_code, read_optional<ReasonCode>(r, read_enum<ReasonCode>));
    }
  }));
  return v;
}

Result<RefusalData> decode_refusal_data(std::string_view bytes) { return decode_whole(bytes, read_refusal_data); }

Json refusal_data_json(const RefusalData& v) {
  JsonObject o;
  o.reserve(3);
  o.emplace_back("target_id", digest_json(v.target_id));
  o.emplace_back("target_kind", enum_json(v.target_kind));
  o.emplace_back("reason_code", optional_json(v.reason_code, enum_json<ReasonCode>));
  return Json(std::move(o));
}

// ApprovalData

Result<ApprovalData> read_approval_data(JsonReader& r) {
  ApprovalData v;
  FieldSet fields(kApprovalFields, kApprovalRequired);
  QL_TRY(read_fields(r, "struct ApprovalData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.target_action, read_optional<Digest>(r, read_digest));
      case 1: return store(v.action_class, read_optional_text(r));
      case 2: return store(v.scope, read_digest(r));
      case 3: return store(v.actor_id, read_optional_text(r));
      default: return store(v.expiry, read_optional_u64(r));
    }
  }));
  return v;
}

Result<ApprovalData> decode_approval_data(std::string_view bytes) {
  return decode_whole(bytes, read_approval_data);
}

Json approval_data_json(const ApprovalData& v) {
  JsonObject o;
  o.reserve(5);
  o.emplace_back("target_action", optional_json(v.target_action, digest_json));
  o.emplace_back("action_class", optional_json(v.action_class, text_json));
  o.emplace_back("scope", digest_json(v.scope));
  o.emplace_back("actor_id", optional_json(v.actor_id, text_json));
  o.emplace_back("expiry", optional_json(v.expiry, u64_json));
  return Json(std::move(o));
}

// UsageOutcomeCounts

Json usage_outcome_counts_json(const UsageOutcomeCounts& v) {
  JsonObject o;
  o.reserve(3);
  o.emplace_back("done", Json(v.done));
  o.emplace_back("not_done", Json(v.not_done));
  o.emplace_back("no_change", Json(v.no_change));
  return Json(std::move(o));
}

}  // namespace quillane
