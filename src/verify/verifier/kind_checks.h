// The kind-specific checks that follow the common per-record checks.
#pragma once

#include "verify/verifier/check_input.h"

namespace quillane {

Judgement check_kind_specific(const CheckInput& in);

// Evolution kinds.
Judgement check_request(const CheckInput& in);
Judgement check_requirement(const CheckInput& in);
Judgement check_candidate(const CheckInput& in);
Judgement check_evaluation(const CheckInput& in);
Judgement check_selection(const CheckInput& in);

// Work-activity kinds, plans, approvals and retractions.
Judgement check_action(const CheckInput& in);
Judgement check_response(const CheckInput& in);
Judgement check_result(const CheckInput& in);
Judgement check_summary(const CheckInput& in);
Judgement check_usage(const CheckInput& in);
Judgement check_refusal(const CheckInput& in);
Judgement check_approval(const CheckInput& in);
Judgement check_plan(const CheckInput& in);
Judgement check_retraction(const CheckInput& in);

}  // namespace quillane
