#include "record/payload.h"

#include <array>

#include "base/jcs_writer.h"
#include "base/schema.h"

namespace quillane {
namespace {

template <typename T>
Result<Payload> as_payload(Result<T> decoded) {
  if (!decoded) return std::move(decoded).error();
  return Payload(std::move(decoded).value());
}

using Decoder = Result<Payload> (*)(std::string_view);

template <typename T, Result<T> (*decode)(std::string_view)>
Result<Payload> decode_as(std::string_view bytes) {
  return as_payload(decode(bytes));
}

// The decoder of each entry of the schema-name table, in table order.
constexpr std::array<Decoder, kSchemaNames.size()> kDecoders = {
    decode_as<RequestData, decode_request_data>,
    decode_as<ActionData, decode_action_data>,
    decode_as<ResponseData, decode_response_data>,
    decode_as<ResultData, decode_result_data>,
    decode_as<ResultData, decode_result_data>,
    decode_as<ResultData, decode_result_data>,
    decode_as<CapabilityData, decode_capability_data>,
    decode_as<ApprovalData, decode_approval_data>,
    decode_as<SummaryData, decode_summary_data>,
    decode_as<RefusalData, decode_refusal_data>,
    decode_as<UsageData, decode_usage_data>,
    decode_as<VerdictData, decode_verdict_data>,
    decode_as<PlanData, decode_plan_data>,
    decode_as<RetractionData, decode_retraction_data>,
    decode_as<CandidateData, decode_candidate_data>,
    decode_as<EvaluationData, decode_evaluation_data>,
    decode_as<SelectionData, decode_selection_data>,
    decode_as<RequirementData, decode_requirement_data>,
    decode_as<EvaluationDataV2, decode_evaluation_data_v2>,
    decode_as<EvaluationDataV2, decode_evaluation_data_v2>,
};

struct PayloadJson {
  Json operator()(const RequestData& p) const { return request_data_json(p); }
  Json operator()(const ActionData& p) const { return action_data_json(p); }
  Json operator()(const ResponseData& p) const { return response_data_json(p); }
  Json operator()(const ResultData& p) const { return result_data_json(p); }
  Json operator()(const SummaryData& p) const { return summary_data_json(p); }
  Json operator()(const CapabilityData& p) const { return capability_data_json(p); }
  Json operator()(const ApprovalData& p) const { return approval_data_json(p); }
  Json operator()(const RefusalData& p) const { return refusal_data_json(p); }
  Json operator()(const UsageData& p) const { return usage_data_json(p); }
  Json operator()(const VerdictData& p) const { return verdict_data_json(p); }
  Json operator()(const PlanData& p) const { return plan_data_json(p); }
  Json operator()(const RetractionData& p) const { return retraction_data_json(p); }
  Json operator()(const CandidateData& p) const { return candidate_data_json(p); }
  Json operator()(const EvaluationData& p) const { return evaluation_data_json(p); }
  Json operator()(const SelectionData& p) const { return selection_data_json(p); }
  Json operator()(const RequirementData& p) const { return requirement_data_json(p); }
  Json operator()(const EvaluationDataV2& p) const { return evaluation_data_v2_json(p); }
};

}  // namespace

std::optional<Result<Payload>> decode_payload(const Digest& schema, std::string_view bytes) {
  const auto index = schema_index_for_id(schema);
  if (!index) return std::nullopt;
  return kDecoders[*index](bytes);
}

Json payload_json(const Payload& payload) { return std::visit(PayloadJson{}, payload); }

bool decodes_canonically(const Digest& schema, std::string_view bytes) {
  auto decoded = decode_payload(schema, bytes);
  if (!decoded || !decoded->ok()) return false;
  auto encoded = canonical_json(payload_json(decoded->value()));
  return encoded.ok() && *encoded == bytes;
}

}  // namespace quillane
