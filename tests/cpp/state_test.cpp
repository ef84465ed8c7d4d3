// The derived state: effects of each kind, taint, and rebuilding.
#include <gtest/gtest.h>

#include "evolution_builders.h"
#include "log_fixture.h"
#include "state/approval_digests.h"
#include "state/state.h"
#include "base/strict_decoders.h"

namespace quillane {
namespace {

using namespace test;

const StatedVerdict kAccept{VerdictResult::Accept, std::nullopt};

// A bare record with a readable id; the state does not check ids.
Record rec(const std::string& name, Kind kind, const Json& payload, std::vector<Ref> refs = {}) {
  Record r;
  r.id = sha256_utf8(name);
  r.kind = kind;
  r.author.id = "provider";
  r.data = canonical_bytes(payload);
  r.refs = std::move(refs);
  return r;
}

RecordId id(const std::string& name) { return sha256_utf8(name); }

void apply(State& s, const Record& r) { ASSERT_TRUE(apply_record(s, r, kAccept).ok()); }

TEST(State, TaintFollowsUseAndRequireOnly) {
  State s;
  apply(s, rec("cand", Kind::Candidate, candidate_json(CandidateBasis::Root)));
  apply(s, rec("eval", Kind::Evaluation, evaluation_json(id("cand")), {use(id("cand"))}));
  apply(s, rec("sel", Kind::Selection, selection_json({id("cand")}, std::vector<Digest>{id("cand")}),
               {use(id("eval")), require(id("cand"))}));
  apply(s, rec("caused", Kind::Candidate, candidate_json(CandidateBasis::Derivation), {cause(id("cand"))}));
  apply(s, rec("retract", Kind::Retraction, retraction_json(id("cand"))));
  EXPECT_EQ(s.retracted_records, std::set<RecordId>{id("cand")});
  EXPECT_EQ(s.tainted_records, (std::set<RecordId>{id("eval"), id("sel")}));
  // Accepted after the retraction: tainted on acceptance.
  apply(s, rec("late", Kind::Evaluation, evaluation_json(id("cand")), {use(id("cand"))}));
  EXPECT_TRUE(s.tainted_records.contains(id("late")));
  // A rejected record changes nothing at all.
  State before = s;
  ASSERT_TRUE(apply_record(s, rec("no", Kind::Evaluation, evaluation_json(id("cand")), {use(id("eval"))}),
                           StatedVerdict{VerdictResult::Reject, ReasonCode::EvaluationInvalid})
                  .ok());
  EXPECT_EQ(s, before);
}

TEST(State, TaintClosureHandlesCyclesAndDepth) {
  State s;
  // A chain of 100,000 dependents and a cycle back to the start.
  const int n = 100000;
  for (int i = 1; i < n; ++i) s.epistemic_dependents[id(std::to_string(i - 1))].insert(id(std::to_string(i)));
  s.epistemic_dependents[id(std::to_string(n - 1))].insert(id("0"));
  mark_tainted(s, id("0"));
  EXPECT_EQ(s.tainted_records.size(), static_cast<std::size_t>(n));
}

TEST(State, CapabilitiesReplaceAndRetract) {
  State s;
  CapabilityData cap{"provider", "deploy", test_space(), CapabilityMode::Auto, std::nullopt};
  const CapabilityKey key{"provider", "deploy", test_space()};
  apply(s, rec("cap1", Kind::Capability, capability_data_json(cap)));
  cap.mode = CapabilityMode::Ask;
  apply(s, rec("cap2", Kind::Capability, capability_data_json(cap), {replace(id("cap1"))}));
  EXPECT_EQ(s.active_capabilities.at(key), id("cap2"));
  EXPECT_TRUE(s.replaced_records.contains(id("cap1")));
  apply(s, rec("r1", Kind::Retraction, retraction_json(id("cap1"))));
  EXPECT_EQ(s.active_capabilities.at(key), id("cap2"));
  apply(s, rec("r2", Kind::Retraction, retraction_json(id("cap2"))));
  EXPECT_FALSE(s.active_capabilities.contains(key));
  EXPECT_EQ(s.capability_index.size(), 2u);  // the index keeps its entries
}

TEST(State, RequestsResponsesPlansAndActions) {
  State s;
  apply(s, rec("req", Kind::Request, request_json()));
  ResponseData closing{id("req"), "done", 0, true};
  ResponseData more{id("req"), "more", 1, false};
  apply(s, rec("resp1", Kind::Response, response_data_json(closing)));
  EXPECT_FALSE(s.active_requests.contains(id("req")));
  apply(s, rec("resp2", Kind::Response, response_data_json(more)));
  EXPECT_EQ(s.response_turns.at(id("req")), 2u);

  PlanData plan;
  plan.request_id = id("req2");
  plan.status = PlanStatus::Completed;
  apply(s, rec("plan", Kind::Plan, plan_data_json(plan)));
  EXPECT_FALSE(s.active_plans.contains(id("req2")));
  plan.status = PlanStatus::Running;
  apply(s, rec("plan2", Kind::Plan, plan_data_json(plan)));
  EXPECT_EQ(s.active_plans.at(id("req2")), id("plan2"));

  // An exact approval is consumed only by an Action that Requires it.
  ActionData action;
  action.request_id = id("req2");
  action.action_class = "deploy";
  action.scope = test_space();
  action.params = Json(JsonObject{});
  const Digest digest = *action_approval_digest("provider", action);
  ApprovalData approval;
  approval.target_action = digest;
  approval.scope = test_space();
  approval.actor_id = "provider";
  apply(s, rec("appr", Kind::Approval, approval_data_json(approval)));
  apply(s, rec("act1", Kind::Action, action_data_json(action)));
  EXPECT_EQ(s.valid_approvals.at(digest), id("appr"));
  apply(s, rec("act2", Kind::Action, action_data_json(action), {require(id("appr"))}));
  EXPECT_FALSE(s.valid_approvals.contains(digest));
  EXPECT_FALSE(s.exact_approval_index.contains(id("appr")));
  EXPECT_EQ(s.request_open_action_count.at(id("req2")), 2u);

  ResultData result{id("act1"), ResultStatus::Success, "ok", std::nullopt};
  apply(s, rec("res", Kind::Result, result_data_json(result)));
  RefusalData refusal{id("act2"), RefusalTarget::Action, std::nullopt};
  apply(s, rec("ref", Kind::Refusal, refusal_data_json(refusal)));
  EXPECT_TRUE(s.open_actions.empty());
  EXPECT_FALSE(s.request_open_action_count.contains(id("req2")));
  EXPECT_EQ(s.action_to_request.size(), 2u);
}

TEST(State, RebuildMatchesAndKeepsDanglingSubjectUnapplied) {
  LogBuilder log;
  const RecordId request = log.accepted("quillane.request.v1", request_json());
  log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(request)});
  auto records = log.records();
  EXPECT_EQ(*build_state_unchecked(records), log.state());

  Record dangling = log.finish(log.pending("quillane.request.v1", request_json("next")));
  records.push_back(dangling);
  const State rebuilt = *build_state_unchecked(records);
  EXPECT_FALSE(rebuilt.accepted(dangling.id));
  EXPECT_EQ(rebuilt.applied_up_to, dangling.time);
  EXPECT_EQ(build_state_unchecked({}).value(), State{});
}

TEST(State, SerialisedFormIsCanonicalAndOrdered) {
  State s;
  apply(s, rec("b", Kind::Request, request_json()));
  apply(s, rec("a", Kind::Request, request_json()));
  const Json json = state_json(s);
  const RecordId low = std::min(id("a"), id("b")), high = std::max(id("a"), id("b"));
  EXPECT_EQ(*json.find("active_requests"), Json(JsonArray{digest_json(low), digest_json(high)}));
  auto text = canonical_json(json);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text->find("\"accepted_records\":[["), 1u);
  EXPECT_NE(text->find("\"applied_up_to\":0"), std::string::npos);
}

}  // namespace
}  // namespace quillane
