#include "verify/verifier/kind_checks.h"

namespace quillane {

Judgement check_kind_specific(const CheckInput& in) {
  switch (in.record.kind) {
    case Kind::Request: return check_request(in);
    case Kind::Requirement: return check_requirement(in);
    case Kind::Candidate: return check_candidate(in);
    case Kind::Evaluation: return check_evaluation(in);
    case Kind::Selection: return check_selection(in);
    case Kind::Retraction: return check_retraction(in);
    case Kind::Action: return check_action(in);
    case Kind::Response: return check_response(in);
    case Kind::Result: return check_result(in);
    case Kind::Summary: return check_summary(in);
    case Kind::Usage: return check_usage(in);
    case Kind::Refusal: return check_refusal(in);
    case Kind::Approval: return check_approval(in);
    case Kind::Plan: return check_plan(in);
    case Kind::Capability:
    case Kind::Verdict: return Judgement::accept();
  }
  return Judgement::accept();
}

bool has_require_ref(std::span<const Ref> refs, const RecordId& id) {
  for (const Ref& ref : refs)
    if (ref.type == RefType::Require && ref.target == id) return true;
  return false;
}

bool has_use_ref(std::span<const Ref> refs, const RecordId& id) {
  for (const Ref& ref : refs)
    if (ref.type == RefType::Use && ref.target == id) return true;
  return false;
}

const Record* prior_of_kind(const CheckInput& in, const RecordId& id, Kind kind) {
  const Record* r = in.prior.find(id);
  return r && r->space == in.record.space && r->kind == kind ? r : nullptr;
}

}  // namespace quillane
