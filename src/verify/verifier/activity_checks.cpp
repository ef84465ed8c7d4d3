// Work-activity, plan, approval and retraction checks: accepted once the
// common checks pass, until their own rules are in place.
#include "verify/verifier/kind_checks.h"

namespace quillane {

Judgement check_action(const CheckInput&) { return Judgement::accept(); }
Judgement check_response(const CheckInput&) { return Judgement::accept(); }
Judgement check_result(const CheckInput&) { return Judgement::accept(); }
Judgement check_summary(const CheckInput&) { return Judgement::accept(); }
Judgement check_usage(const CheckInput&) { return Judgement::accept(); }
Judgement check_refusal(const CheckInput&) { return Judgement::accept(); }
Judgement check_approval(const CheckInput&) { return Judgement::accept(); }
Judgement check_plan(const CheckInput&) { return Judgement::accept(); }
Judgement check_retraction(const CheckInput&) { return Judgement::accept(); }

}  // namespace quillane
