#include <gtest/gtest.h>

#include "activity_fixture.h"
#include "record/signing.h"

namespace quillane::test {
namespace {

using Mode = CapabilityMode;

// The time the next commit after the current one will carry.
std::uint64_t following_time(const WorkLog& w) { return w.b.next_time() + 2; }

TEST(ActivityAction, Authority) {
  run_cases({
      {"request refused before the action",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Auto);
         w.b.accepted(kRefusalSchema, refusal_data_json({w.request, RefusalTarget::Request, std::nullopt}),
                      {cause(w.request)});
         return w.action(w.act(), {require(cap)}).judgement;
       },
       "RequestMissing"},
      {"request id names no request",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Auto);
         ActionData a = w.act();
         a.request_id = cap;
         return w.action(a, {require(cap)}).judgement;
       },
       "RequestMissing"},
      {"request in another thread",
       [](WorkLog& w) {
         PendingRecord p = w.b.pending(kRequestSchema, work_request_json("elsewhere"));
         p.thread = sha256_utf8("other thread");
         const RecordId request = w.b.commit(std::move(p)).id;
         const RecordId cap = w.capability(Mode::Auto);
         ActionData a = w.act();
         a.request_id = request;
         return w.action(a, {require(cap)}).judgement;
       },
       "RequestMissing"},
      {"scope differs from the request's",
       [](WorkLog& w) {
         ActionData a = w.act();
         a.scope = sha256_utf8("other scope");
         const RecordId cap = w.b.accepted(
             kCapabilitySchema, capability_data_json({"provider", "deploy", a.scope, Mode::Auto, std::nullopt}));
         return w.action(a, {require(cap)}).judgement;
       },
       "InvalidPayload"},
      {"no capability for the class",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Auto, std::nullopt, "read");
         return w.action(w.act(), {require(cap)}).judgement;
       },
       "CapabilityMissing"},
      {"capability granted to another actor",
       [](WorkLog& w) {
         w.b.accepted(kCapabilitySchema,
                      capability_data_json({"system", "deploy", test_space(), Mode::Auto, std::nullopt}));
         return w.action(w.act()).judgement;
       },
       "CapabilityMissing"},
      {"retracted capability",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Auto);
         w.retract(cap);
         return w.action(w.act()).judgement;
       },
       "CapabilityMissing"},
      {"tainted capability",
       [](WorkLog& w) {
         w.tainted([&](const RecordId& victim) {
           return w.capability(Mode::Auto, std::nullopt, "deploy", {use(victim)});
         });
         return w.action(w.act()).judgement;
       },
       "CapabilityMissing"},
      {"capability expiring at the action's time",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Auto, following_time(w));
         return w.action(w.act(), {require(cap)}).judgement;
       },
       "CapabilityMissing"},
      {"capability expiring just after the action's time",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Auto, following_time(w) + 1);
         return w.action(w.act(), {require(cap)}).judgement;
       },
       "Accept"},
      {"deny wins over any approval",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Deny);
         const ActionData a = w.act();
         const RecordId exact = w.exact_approval(a);
         const RecordId any = w.class_approval(std::nullopt);
         return w.action(a, {require(cap), require(exact), require(any)}).judgement;
       },
       "CapabilityDenied"},
      {"auto without a Require reference to the capability",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Auto);
         return w.action(w.act(), {use(cap)}).judgement;
       },
       "AuthorityRefMissing"},
      {"auto with a Require reference",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Auto);
         return w.action(w.act(), {require(cap)}).judgement;
       },
       "Accept"},
  });
}

TEST(ActivityAction, Approvals) {
  run_cases({
      {"ask with no approval",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         return w.action(w.act(), {require(cap)}).judgement;
       },
       "ApprovalMissing"},
      {"exact approval of this content",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const ActionData a = w.act();
         const RecordId ok = w.exact_approval(a);
         return w.action(a, {require(cap), require(ok)}).judgement;
       },
       "Accept"},
      {"exact approval without a Require reference to it",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const ActionData a = w.act();
         w.exact_approval(a);
         return w.action(a, {require(cap)}).judgement;
       },
       "AuthorityRefMissing"},
      {"approval without a Require reference to the capability",
       [](WorkLog& w) {
         w.capability(Mode::Ask);
         const ActionData a = w.act();
         const RecordId ok = w.exact_approval(a);
         return w.action(a, {require(ok)}).judgement;
       },
       "AuthorityRefMissing"},
      {"exact approval is tried before class approvals",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const ActionData a = w.act();
         w.exact_approval(a);
         const RecordId any = w.class_approval(std::nullopt);
         return w.action(a, {require(cap), require(any)}).judgement;
       },
       "AuthorityRefMissing"},
      {"exact approval of other content",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         ActionData other = w.act();
         other.params = Json(JsonObject{{"target", Json("staging")}});
         const RecordId elsewhere = w.exact_approval(other);
         return w.action(w.act(), {require(cap), require(elsewhere)}).judgement;
       },
       "ApprovalMissing"},
      {"exact approval of other content falls through to a class approval",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         ActionData other = w.act();
         other.params = Json(JsonObject{{"target", Json("staging")}});
         w.exact_approval(other);
         const RecordId mine = w.class_approval("provider");
         return w.action(w.act(), {require(cap), require(mine)}).judgement;
       },
       "Accept"},
      {"exact approval naming another actor is passed over",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const ActionData a = w.act();
         const RecordId ap = w.exact_approval(a, std::nullopt, "system");
         return w.action(a, {require(cap), require(ap)}).judgement;
       },
       "ApprovalMissing"},
      {"exact approval for another scope is passed over",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const ActionData a = w.act();
         const RecordId ap = w.exact_approval(a, std::nullopt, "provider", sha256_utf8("other scope"));
         return w.action(a, {require(cap), require(ap)}).judgement;
       },
       "ApprovalMissing"},
      {"exact approval expiring at the action's time is passed over",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const ActionData a = w.act();
         const RecordId ap = w.exact_approval(a, following_time(w));
         return w.action(a, {require(cap), require(ap)}).judgement;
       },
       "ApprovalMissing"},
      {"exact approval expiring just after the action's time",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const ActionData a = w.act();
         const RecordId ap = w.exact_approval(a, following_time(w) + 1);
         return w.action(a, {require(cap), require(ap)}).judgement;
       },
       "Accept"},
      {"exact approval consumed by an earlier action is not found again",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const ActionData a = w.act();
         const RecordId ap = w.exact_approval(a);
         EXPECT_TRUE(w.action(a, {require(cap), require(ap)}).judgement.accepted());
         return w.action(a, {require(cap), require(ap)}).judgement;
       },
       "ApprovalMissing"},
      {"tainted exact approval is passed over",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const ActionData a = w.act();
         w.tainted([&](const RecordId& victim) {
           auto digest = action_approval_digest("provider", a);
           return w.b.accepted(kApprovalSchema,
                               approval_data_json({*digest, std::nullopt, test_space(), "provider", std::nullopt}),
                               {use(victim)});
         });
         return w.action(a, {require(cap)}).judgement;
       },
       "ApprovalMissing"},
      {"class approval for the actor expired, any-actor approval valid",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const RecordId any = w.class_approval(std::nullopt);
         const RecordId mine = w.class_approval("provider", following_time(w));
         return w.action(w.act(), {require(cap), require(any), require(mine)}).judgement;
       },
       "ApprovalExpired"},
      {"class approval for the actor just before expiry",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const RecordId mine = w.class_approval("provider", following_time(w) + 1);
         return w.action(w.act(), {require(cap), require(mine)}).judgement;
       },
       "Accept"},
      {"class approval for another actor only",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const RecordId theirs = w.class_approval("system");
         return w.action(w.act(), {require(cap), require(theirs)}).judgement;
       },
       "ApprovalMissing"},
      {"tainted class approval for the actor falls through to any actor",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         w.tainted([&](const RecordId& victim) { return w.class_approval("provider", std::nullopt, {use(victim)}); });
         const RecordId any = w.class_approval(std::nullopt);
         return w.action(w.act(), {require(cap), require(any)}).judgement;
       },
       "Accept"},
      {"class approval for any actor",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const RecordId any = w.class_approval(std::nullopt);
         return w.action(w.act(), {require(cap), require(any)}).judgement;
       },
       "Accept"},
      {"class approval for any actor expiring at the action's time",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const RecordId any = w.class_approval(std::nullopt, following_time(w));
         return w.action(w.act(), {require(cap), require(any)}).judgement;
       },
       "ApprovalExpired"},
      {"tainted class approval for any actor",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         w.tainted([&](const RecordId& victim) { return w.class_approval(std::nullopt, std::nullopt, {use(victim)}); });
         return w.action(w.act(), {require(cap)}).judgement;
       },
       "ApprovalMissing"},
      {"retracted class approval",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         w.retract(w.class_approval(std::nullopt));
         return w.action(w.act(), {require(cap)}).judgement;
       },
       "ApprovalMissing"},
      {"class approvals are not consumed",
       [](WorkLog& w) {
         const RecordId cap = w.capability(Mode::Ask);
         const RecordId any = w.class_approval(std::nullopt);
         EXPECT_TRUE(w.action(w.act(), {require(cap), require(any)}).judgement.accepted());
         return w.action(w.act(), {require(cap), require(any)}).judgement;
       },
       "Accept"},
  });
}

// Response, Result, Refusal, Usage and Summary.

Json response_json(const RecordId& request, std::uint32_t turn, bool closes = false) {
  return response_data_json({request, "on it", turn, closes});
}

TEST(LifecycleResponse, TurnsAndClosing) {
  run_cases({
      {"first response numbered 1",
       [](WorkLog& w) { return w.b.commit(kResponseSchema, response_json(w.request, 1)).judgement; },
       "InvalidPayload"},
      {"first response numbered 0",
       [](WorkLog& w) { return w.b.commit(kResponseSchema, response_json(w.request, 0)).judgement; }, "Accept"},
      {"second response repeating 0",
       [](WorkLog& w) {
         w.b.accepted(kResponseSchema, response_json(w.request, 0));
         return w.b.commit(kResponseSchema, response_json(w.request, 0)).judgement;
       },
       "InvalidPayload"},
      {"second response numbered 1",
       [](WorkLog& w) {
         w.b.accepted(kResponseSchema, response_json(w.request, 0));
         return w.b.commit(kResponseSchema, response_json(w.request, 1)).judgement;
       },
       "Accept"},
      {"turn counter exhausted",
       [](WorkLog& w) {
         const Record r = w.b.finish(w.b.pending(kResponseSchema, response_json(w.request, UINT32_MAX)));
         return w.judge_with_state(r, [&](State& s) { s.response_turns[w.request] = UINT32_MAX; });
       },
       "InvalidPayload"},
      {"unknown request",
       [](WorkLog& w) { return w.b.commit(kResponseSchema, response_json(unknown_id(), 0)).judgement; },
       "RequestMissing"},
      {"request in another thread",
       [](WorkLog& w) {
         PendingRecord p = w.b.pending(kRequestSchema, work_request_json("elsewhere"));
         p.thread = sha256_utf8("other thread");
         const RecordId request = w.b.commit(std::move(p)).id;
         return w.b.commit(kResponseSchema, response_json(request, 0)).judgement;
       },
       "RequestMissing"},
      {"request already closed",
       [](WorkLog& w) {
         w.b.accepted(kResponseSchema, response_json(w.request, 0, true));
         return w.b.commit(kResponseSchema, response_json(w.request, 1)).judgement;
       },
       "RequestMissing"},
      {"closing while an action is open",
       [](WorkLog& w) {
         w.open_action();
         return w.b.commit(kResponseSchema, response_json(w.request, 0, true)).judgement;
       },
       "InvalidPayload"},
      {"closing after the action's result",
       [](WorkLog& w) {
         w.closed_action();
         const auto c = w.b.commit(kResponseSchema, response_json(w.request, 0, true));
         EXPECT_FALSE(w.b.state().active_requests.contains(w.request));
         return c.judgement;
       },
       "Accept"},
      {"closing while a plan runs",
       [](WorkLog& w) {
         PlanTask task{"t1", "look", {}, {}, {}, {}, {}, TaskStatus::Pending, {}, {}, FailurePolicy::Continue};
         w.b.accepted(kPlanSchema, plan_data_json({w.request, {task}, PlanStatus::Running}), {cause(w.request)});
         return w.b.commit(kResponseSchema, response_json(w.request, 0, true)).judgement;
       },
       "InvalidPayload"},
  });
}

TEST(LifecycleResult, ClosesOneOpenAction) {
  static const Ed25519Signer signer = Ed25519Signer::from_secret_bytes({7});
  // A receipt for an External action, signed by the executor.
  auto signed_receipt = [](WorkLog& w) {
    const RecordId a = w.open_action(ExecMode::External);
    return w.b.commit(w.b.pending(kReceiptSchema, WorkLog::result_json(a), {cause(a)}), &signer).judgement;
  };
  run_cases({
      {"result of an open internal action",
       [](WorkLog& w) { return w.result(w.open_action()).judgement; }, "Accept"},
      {"effect confirmation of an internal action",
       [](WorkLog& w) { return w.result(w.open_action(), kEffectSchema).judgement; }, "Accept"},
      {"second result for one action",
       [](WorkLog& w) { return w.result(w.closed_action()).judgement; }, "ActionClosed"},
      {"result after the action was refused",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         w.b.accepted(kRefusalSchema, refusal_data_json({a, RefusalTarget::Action, std::nullopt}), {cause(a)});
         return w.result(a).judgement;
       },
       "ActionClosed"},
      {"result naming no action",
       [](WorkLog& w) {
         return w.b.commit(kResultSchema, WorkLog::result_json(w.request), {cause(w.request)}).judgement;
       },
       "ActionClosed"},
      {"action in another thread",
       [](WorkLog& w) {
         const Digest thread = sha256_utf8("other thread");
         PendingRecord req = w.b.pending(kRequestSchema, work_request_json("elsewhere"));
         req.thread = thread;
         const RecordId request = w.b.commit(std::move(req)).id;
         const RecordId cap = w.capability(Mode::Auto);
         ActionData a = w.act();
         a.request_id = request;
         PendingRecord act = w.b.pending(kActionSchema, action_data_json(a), {require(cap)});
         act.thread = thread;
         const auto action = w.b.commit(std::move(act));
         EXPECT_TRUE(action.judgement.accepted());
         return w.result(action.id).judgement;
       },
       "ActionClosed"},
      {"malformed artifact list",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         const ResultData r{a, ResultStatus::Success, "built", std::vector<ArtifactRef>{{"sha256-bytes", "ABCD", {}}}};
         return w.b.commit(kResultSchema, result_data_json(r), {cause(a)}).judgement;
       },
       "ArtifactRefInvalid"},
      {"external action reported as a plain result",
       [](WorkLog& w) { return w.result(w.open_action(ExecMode::External)).judgement; }, "ExternalReceiptRequired"},
      {"external receipt unsigned",
       [](WorkLog& w) { return w.result(w.open_action(ExecMode::External), kReceiptSchema).judgement; },
       "SignatureMissing"},
      {"external receipt signed by an author without pinned keys", signed_receipt, "SignatureInvalid"},
      {"external receipt signed with a pinned key",
       [&](WorkLog& w) {
         w.b.rules.author_keys["executor"] = {signer.public_key()};
         return signed_receipt(w);
       },
       "Accept"},
      {"internal action reported as an external receipt",
       [](WorkLog& w) { return w.result(w.open_action(), kReceiptSchema).judgement; }, "InvalidPayload"},
      {"another Cause reference, sorting before the action's one",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         const auto [before, after] = w.requests_around(a);
         return w.b.commit(kResultSchema, WorkLog::result_json(a), {cause(before), cause(a)}).judgement;
       },
       "InvalidPayload"},
      {"another Cause reference, sorting after the action's one",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         const auto [before, after] = w.requests_around(a);
         return w.b.commit(kResultSchema, WorkLog::result_json(a), {cause(a), cause(after)}).judgement;
       },
       "InvalidPayload"},
      {"Cause reference to another record",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         return w.b.commit(kResultSchema, WorkLog::result_json(a), {cause(w.request)}).judgement;
       },
       "InvalidPayload"},
      {"no Cause reference",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         return w.b.commit(kResultSchema, WorkLog::result_json(a), {use(a)}).judgement;
       },
       "InvalidPayload"},
  });
}

Json refusal_json(const RecordId& target, RefusalTarget kind) {
  return refusal_data_json({target, kind, ReasonCode::Refused});
}

TEST(LifecycleRefusal, Targets) {
  run_cases({
      {"refusing an active request",
       [](WorkLog& w) {
         return w.b.commit(kRefusalSchema, refusal_json(w.request, RefusalTarget::Request), {cause(w.request)})
             .judgement;
       },
       "Accept"},
      {"refusing a request twice",
       [](WorkLog& w) {
         w.b.accepted(kRefusalSchema, refusal_json(w.request, RefusalTarget::Request), {cause(w.request)});
         return w.b.commit(kRefusalSchema, refusal_json(w.request, RefusalTarget::Request), {cause(w.request)})
             .judgement;
       },
       "RequestMissing"},
      {"target names no record",
       [](WorkLog& w) {
         return w.b.commit(kRefusalSchema, refusal_json(unknown_id(), RefusalTarget::Request), {cause(w.request)})
             .judgement;
       },
       "RequestMissing"},
      {"request refused as an action",
       [](WorkLog& w) {
         return w.b.commit(kRefusalSchema, refusal_json(w.request, RefusalTarget::Action), {cause(w.request)})
             .judgement;
       },
       "InvalidPayload"},
      {"action refused as a request",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         return w.b.commit(kRefusalSchema, refusal_json(a, RefusalTarget::Request), {cause(a)}).judgement;
       },
       "InvalidPayload"},
      {"refusing an open action",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         return w.b.commit(kRefusalSchema, refusal_json(a, RefusalTarget::Action), {cause(a)}).judgement;
       },
       "Accept"},
      {"refusing a closed action",
       [](WorkLog& w) {
         const RecordId a = w.closed_action();
         return w.b.commit(kRefusalSchema, refusal_json(a, RefusalTarget::Action), {cause(a)}).judgement;
       },
       "ActionClosed"},
      {"verified effect aimed at an ordinary result",
       [](WorkLog& w) {
         const RecordId r = w.result(w.open_action()).id;
         return w.b.commit(kRefusalSchema, refusal_json(r, RefusalTarget::VerifiedEffect), {cause(r)}).judgement;
       },
       "InvalidPayload"},
      {"verified effect aimed at an effect confirmation",
       [](WorkLog& w) {
         const RecordId r = w.result(w.open_action(), kEffectSchema).id;
         return w.b.commit(kRefusalSchema, refusal_json(r, RefusalTarget::VerifiedEffect), {cause(r)}).judgement;
       },
       "Accept"},
      {"verified effect aimed at a rejected confirmation",
       [](WorkLog& w) {
         const auto r = w.result(w.closed_action(), kEffectSchema);
         EXPECT_FALSE(r.judgement.accepted());
         return w.b.commit(kRefusalSchema, refusal_json(r.id, RefusalTarget::VerifiedEffect), {cause(r.id)})
             .judgement;
       },
       "InvalidPayload"},
      {"Cause reference to another record",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         return w.b.commit(kRefusalSchema, refusal_json(a, RefusalTarget::Action), {cause(w.request)}).judgement;
       },
       "InvalidPayload"},
      {"another Cause reference, sorting before the target's one",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         const auto [before, after] = w.requests_around(a);
         return w.b
             .commit(kRefusalSchema, refusal_json(a, RefusalTarget::Action), {cause(before), cause(a)})
             .judgement;
       },
       "InvalidPayload"},
      {"another Cause reference, sorting after the target's one",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         const auto [before, after] = w.requests_around(a);
         return w.b
             .commit(kRefusalSchema, refusal_json(a, RefusalTarget::Action), {cause(a), cause(after)})
             .judgement;
       },
       "InvalidPayload"},
  });
}

// A usage report by the provider of `used`, consumed by `consuming`.
LogBuilder::Commit usage(WorkLog& w, const RecordId& used, const RecordId& consuming, std::vector<Ref> refs,
                         std::string actor = "provider") {
  return w.b.commit(kUsageSchema, usage_data_json({std::move(actor), used, consuming, "input", UsageOutcome::Done}),
                    std::move(refs));
}

TEST(LifecycleUsage, ConsumersAndReferences) {
  run_cases({
      {"used by a result",
       [](WorkLog& w) {
         const RecordId r = w.result(w.open_action()).id;
         return usage(w, w.request, r, {use(w.request)}).judgement;
       },
       "Accept"},
      {"used by a refusal",
       [](WorkLog& w) {
         const RecordId r = w.b.accepted(kRefusalSchema, refusal_json(w.request, RefusalTarget::Request),
                                         {cause(w.request)});
         return usage(w, w.request, r, {use(w.request)}).judgement;
       },
       "Accept"},
      {"actor other than the author",
       [](WorkLog& w) {
         const RecordId r = w.result(w.open_action()).id;
         return usage(w, w.request, r, {use(w.request)}, "system").judgement;
       },
       "InvalidPayload"},
      {"consumed by an action",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         return usage(w, w.request, a, {use(w.request)}).judgement;
       },
       "InvalidPayload"},
      {"consumed by a rejected result",
       [](WorkLog& w) {
         const auto r = w.result(w.closed_action());
         EXPECT_FALSE(r.judgement.accepted());
         return usage(w, w.request, r.id, {use(w.request)}).judgement;
       },
       "InvalidPayload"},
      {"Use reference to another record",
       [](WorkLog& w) {
         const RecordId a = w.open_action();
         const RecordId r = w.result(a).id;
         return usage(w, w.request, r, {use(a)}).judgement;
       },
       "InvalidPayload"},
      {"another Use reference, sorting before the used record's one",
       [](WorkLog& w) {
         const RecordId r = w.result(w.open_action()).id;
         const auto [before, after] = w.requests_around(w.request);
         return usage(w, w.request, r, {use(before), use(w.request)}).judgement;
       },
       "InvalidPayload"},
      {"another Use reference, sorting after the used record's one",
       [](WorkLog& w) {
         const RecordId r = w.result(w.open_action()).id;
         const auto [before, after] = w.requests_around(w.request);
         return usage(w, w.request, r, {use(w.request), use(after)}).judgement;
       },
       "InvalidPayload"},
  });
}

LogBuilder::Commit summary(WorkLog& w, SummaryType type, std::vector<Ref> refs) {
  return w.b.commit(kSummarySchema, summary_data_json({type, w.request, test_space(), {1, 2, 3}}), std::move(refs));
}

TEST(LifecycleSummary, TypeAndUse) {
  run_cases({
      {"summary using a record",
       [](WorkLog& w) { return summary(w, SummaryType::Lesson, {use(w.request)}).judgement; }, "Accept"},
      {"summary without a Use reference",
       [](WorkLog& w) { return summary(w, SummaryType::Lesson, {cause(w.request)}).judgement; }, "InvalidPayload"},
      {"summary type the rules do not allow",
       [](WorkLog& w) {
         w.b.rules.allowed_summary_types.erase(SummaryType::Lesson);
         return summary(w, SummaryType::Lesson, {use(w.request)}).judgement;
       },
       "InvalidPayload"},
  });
}

}  // namespace
}  // namespace quillane::test
