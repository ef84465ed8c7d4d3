// A decoded payload of any schema, and the canonical-bytes check that every
// accepted record's payload passes.
#pragma once

#include <optional>
#include <string_view>
#include <variant>

#include "base/digest.h"
#include "base/json_value.h"
#include "base/result.h"
#include "record/activity_payloads.h"
#include "record/evolution_payloads.h"

namespace quillane {

using Payload = std::variant<RequestData, ActionData, ResponseData, ResultData, SummaryData, CapabilityData,
                             ApprovalData, RefusalData, UsageData, VerdictData, PlanData, RetractionData,
                             CandidateData, EvaluationData, SelectionData, RequirementData, EvaluationDataV2>;

// Decodes `bytes` as the structure of the schema; nothing for a schema id
// that names no known schema.
std::optional<Result<Payload>> decode_payload(const Digest& schema, std::string_view bytes);

Json payload_json(const Payload& payload);

// The bytes decode as the schema's structure and equal its canonical encoding.
bool decodes_canonically(const Digest& schema, std::string_view bytes);

}  // namespace quillane
