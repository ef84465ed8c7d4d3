#include <gtest/gtest.h>

#include "activity_fixture.h"

namespace quillane::test {
namespace {

TEST(PlanApproval, NamesExactlyOneThing) {
  const Digest digest = sha256_utf8("approved content");
  const struct {
    std::string name;
    ApprovalData data;
    std::string expected;
  } cases[] = {
      {"exact approval for an actor", {digest, std::nullopt, test_space(), "provider", std::nullopt}, "Accept"},
      {"exact approval without an actor", {digest, std::nullopt, test_space(), std::nullopt, 9}, "InvalidPayload"},
      {"class approval for any actor", {std::nullopt, "deploy", test_space(), std::nullopt, std::nullopt}, "Accept"},
      {"class approval for an actor", {std::nullopt, "deploy", test_space(), "provider", 9}, "Accept"},
      {"both an action and a class", {digest, "deploy", test_space(), "provider", std::nullopt}, "InvalidPayload"},
      {"neither an action nor a class", {std::nullopt, std::nullopt, test_space(), "provider", std::nullopt},
       "InvalidPayload"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LogBuilder b;
    EXPECT_EQ(judgement_name(b.commit(kApprovalSchema, approval_data_json(c.data)).judgement), c.expected);
  }
}

PlanTask task(std::string id, TaskStatus status, std::vector<std::string> depends_on = {},
              std::vector<std::string> inputs_from = {}) {
  PlanTask t;
  t.id = std::move(id);
  t.description = "step " + t.id;
  t.status = status;
  t.depends_on = std::move(depends_on);
  t.inputs_from = std::move(inputs_from);
  return t;
}

PlanTask task_with_result(std::string id, TaskStatus status, const RecordId& result) {
  PlanTask t = task(std::move(id), status);
  t.result_record_id = result;
  return t;
}

LogBuilder::Commit plan(WorkLog& w, std::vector<PlanTask> tasks, PlanStatus status = PlanStatus::Running) {
  return w.b.commit(kPlanSchema, plan_data_json({w.request, std::move(tasks), status}), {cause(w.request)});
}

LogBuilder::Commit plan_with_refs(WorkLog& w, std::vector<Ref> refs) {
  return w.b.commit(kPlanSchema,
                    plan_data_json({w.request, {task("a", TaskStatus::Pending)}, PlanStatus::Running}),
                    std::move(refs));
}

using S = TaskStatus;

TEST(PlanGraph, TasksAndDependencies) {
  run_cases({
      {"one pending task", [](WorkLog& w) { return plan(w, {task("a", S::Pending)}).judgement; }, "Accept"},
      {"no tasks, though completed", [](WorkLog& w) { return plan(w, {}, PlanStatus::Completed).judgement; },
       "InvalidPayload"},
      {"two tasks sharing an id",
       [](WorkLog& w) { return plan(w, {task("a", S::Pending), task("a", S::Done)}).judgement; }, "InvalidPayload"},
      {"dependency on an unknown task",
       [](WorkLog& w) { return plan(w, {task("a", S::Pending, {"b"})}).judgement; }, "InvalidPayload"},
      {"input from an unknown task",
       [](WorkLog& w) { return plan(w, {task("a", S::Pending, {}, {"b"})}).judgement; }, "InvalidPayload"},
      {"two tasks depending on each other",
       [](WorkLog& w) { return plan(w, {task("a", S::Pending, {"b"}), task("b", S::Pending, {"a"})}).judgement; },
       "InvalidPayload"},
      {"a task depending on itself",
       [](WorkLog& w) { return plan(w, {task("a", S::Pending, {"a"})}).judgement; }, "InvalidPayload"},
      {"a cycle behind an acyclic head",
       [](WorkLog& w) {
         return plan(w, {task("a", S::Pending), task("b", S::Pending, {"a", "d"}), task("c", S::Pending, {"b"}),
                         task("d", S::Pending, {"c"})})
             .judgement;
       },
       "InvalidPayload"},
      {"diamond of dependencies, one listed twice",
       [](WorkLog& w) {
         return plan(w, {task("d", S::Pending, {"b", "c", "b"}, {"a"}), task("b", S::Done, {"a"}),
                         task("c", S::Done, {"a"}), task("a", S::Done)})
             .judgement;
       },
       "Accept"},
  });
}

TEST(PlanStatusAgreement, StatusFollowsTasks) {
  run_cases({
      {"running with a task still running",
       [](WorkLog& w) { return plan(w, {task("a", S::Done), task("b", S::Running)}).judgement; }, "Accept"},
      {"running with every task terminal",
       [](WorkLog& w) { return plan(w, {task("a", S::Done), task("b", S::Skipped)}).judgement; }, "InvalidPayload"},
      {"completed with every task done",
       [](WorkLog& w) { return plan(w, {task("a", S::Done), task("b", S::Done)}, PlanStatus::Completed).judgement; },
       "Accept"},
      {"completed with a task skipped",
       [](WorkLog& w) {
         return plan(w, {task("a", S::Done), task("b", S::Skipped)}, PlanStatus::Completed).judgement;
       },
       "InvalidPayload"},
      {"abandoned with a task failed",
       [](WorkLog& w) {
         return plan(w, {task("a", S::Failed), task("b", S::Skipped)}, PlanStatus::Abandoned).judgement;
       },
       "Accept"},
      {"abandoned with every task done",
       [](WorkLog& w) { return plan(w, {task("a", S::Done)}, PlanStatus::Abandoned).judgement; }, "InvalidPayload"},
      {"abandoned with a task pending",
       [](WorkLog& w) {
         return plan(w, {task("a", S::Failed), task("b", S::Pending)}, PlanStatus::Abandoned).judgement;
       },
       "InvalidPayload"},
  });
}

TEST(PlanResults, TaskResultsBelongToTheRequest) {
  run_cases({
      {"done task with a result of the plan's request",
       [](WorkLog& w) {
         const RecordId r = w.result(w.open_action()).id;
         return plan(w, {task_with_result("a", S::Done, r), task("b", S::Pending)}).judgement;
       },
       "Accept"},
      {"failed task with a result",
       [](WorkLog& w) {
         const RecordId r = w.result(w.open_action()).id;
         return plan(w, {task_with_result("a", S::Failed, r)}, PlanStatus::Abandoned).judgement;
       },
       "Accept"},
      {"pending task with a result",
       [](WorkLog& w) {
         const RecordId r = w.result(w.open_action()).id;
         return plan(w, {task_with_result("a", S::Pending, r)}).judgement;
       },
       "InvalidPayload"},
      {"result of another request's action",
       [](WorkLog& w) {
         const RecordId other = w.b.accepted(kRequestSchema, work_request_json("another"));
         const RecordId cap = w.capability(CapabilityMode::Auto);
         ActionData a = w.act();
         a.request_id = other;
         const RecordId action = w.action(a, {require(cap)}).id;
         const RecordId r = w.result(action).id;
         return plan(w, {task_with_result("a", S::Done, r), task("b", S::Pending)}).judgement;
       },
       "InvalidPayload"},
      {"result id naming the action",
       [](WorkLog& w) {
         const RecordId a = w.closed_action();
         return plan(w, {task_with_result("a", S::Done, a), task("b", S::Pending)}).judgement;
       },
       "InvalidPayload"},
      {"result id naming a rejected result",
       [](WorkLog& w) {
         const auto r = w.result(w.closed_action());
         EXPECT_FALSE(r.judgement.accepted());
         return plan(w, {task_with_result("a", S::Done, r.id), task("b", S::Pending)}).judgement;
       },
       "InvalidPayload"},
      {"result id naming no record",
       [](WorkLog& w) {
         return plan(w, {task_with_result("a", S::Done, unknown_id()), task("b", S::Pending)}).judgement;
       },
       "InvalidPayload"},
  });
}

TEST(PlanRequest, HangsOffALiveRequest) {
  run_cases({
      {"no Cause reference", [](WorkLog& w) { return plan_with_refs(w, {use(w.request)}).judgement; },
       "RequestMissing"},
      {"Cause reference to another record",
       [](WorkLog& w) {
         const RecordId other = w.b.accepted(kRequestSchema, work_request_json("another"));
         return plan_with_refs(w, {cause(other)}).judgement;
       },
       "RequestMissing"},
      {"another Cause reference, sorting before the request's one",
       [](WorkLog& w) {
         const auto [before, after] = w.requests_around(w.request);
         return plan_with_refs(w, {cause(before), cause(w.request)}).judgement;
       },
       "RequestMissing"},
      {"another Cause reference, sorting after the request's one",
       [](WorkLog& w) {
         const auto [before, after] = w.requests_around(w.request);
         return plan_with_refs(w, {cause(w.request), cause(after)}).judgement;
       },
       "RequestMissing"},
      {"request closed by a response",
       [](WorkLog& w) {
         w.b.accepted(kResponseSchema, response_data_json({w.request, "done", 0, true}));
         return plan(w, {task("a", S::Pending)}).judgement;
       },
       "RequestMissing"},
      {"request refused",
       [](WorkLog& w) {
         w.b.accepted(kRefusalSchema, refusal_data_json({w.request, RefusalTarget::Request, std::nullopt}),
                      {cause(w.request)});
         return plan(w, {task("a", S::Pending)}).judgement;
       },
       "RequestMissing"},
  });
}

TEST(Retraction, OwnershipAndTargets) {
  auto response = [](WorkLog& w) { return w.b.accepted(kResponseSchema, response_data_json({w.request, "hi", 0, false})); };
  run_cases({
      {"own record", [](WorkLog& w) { return w.retract(w.request).judgement; }, "Accept"},
      {"another author's record",
       [&](WorkLog& w) { return w.retract(response(w)).judgement; }, "AuthorRoleInvalid"},
      {"another author's record by an administrator",
       [&](WorkLog& w) {
         w.b.rules.admin_retraction_actors = {"user"};
         return w.retract(response(w)).judgement;
       },
       "Accept"},
      {"own record by an executor",
       [](WorkLog& w) { return w.retract(w.result(w.open_action()).id, "executor").judgement; },
       "AuthorRoleInvalid"},
      {"a Verdict",
       [](WorkLog& w) {
         w.b.rules.admin_retraction_actors = {"user"};
         const RecordId verdict = w.b.records().at(1).id;
         return w.retract(verdict).judgement;
       },
       "InvalidPayload"},
      {"a Retraction",
       [](WorkLog& w) { return w.retract(w.retract(w.request).id).judgement; }, "InvalidPayload"},
      {"a rejected record",
       [](WorkLog& w) {
         const auto own = w.b.commit(kResponseSchema, response_data_json({w.request, "x", 1, false}), {}, "provider");
         EXPECT_FALSE(own.judgement.accepted());
         return w.retract(own.id, "provider").judgement;
       },
       "InvalidPayload"},
      {"Cause reference to another record",
       [](WorkLog& w) {
         const RecordId other = w.b.accepted(kRequestSchema, work_request_json("another"));
         return w.b.commit(kRetractionSchema, retraction_data_json({w.request, "wrong"}), {cause(other)}).judgement;
       },
       "InvalidPayload"},
      {"another Cause reference, sorting before the target's one",
       [](WorkLog& w) {
         const auto [before, after] = w.requests_around(w.request);
         return w.b
             .commit(kRetractionSchema, retraction_data_json({w.request, "wrong"}),
                     {cause(before), cause(w.request)})
             .judgement;
       },
       "InvalidPayload"},
      {"another Cause reference, sorting after the target's one",
       [](WorkLog& w) {
         const auto [before, after] = w.requests_around(w.request);
         return w.b
             .commit(kRetractionSchema, retraction_data_json({w.request, "wrong"}),
                     {cause(w.request), cause(after)})
             .judgement;
       },
       "InvalidPayload"},
  });
}

}  // namespace
}  // namespace quillane::test
