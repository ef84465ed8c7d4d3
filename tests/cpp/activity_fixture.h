// An in-memory log of agent work for verifier tests: one live request and
// helpers that commit capabilities, approvals, actions, results and
// retractions around it.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "evolution_builders.h"
#include "log_fixture.h"
#include "record/activity_payloads.h"
#include "record/evolution_payloads.h"
#include "state/approval_digests.h"

namespace quillane::test {

inline constexpr std::string_view kRequestSchema = "quillane.request.v1";
inline constexpr std::string_view kActionSchema = "quillane.action.v1";
inline constexpr std::string_view kResponseSchema = "quillane.response.v1";
inline constexpr std::string_view kResultSchema = "quillane.result.v1";
inline constexpr std::string_view kReceiptSchema = "quillane.result.external_receipt.v1";
inline constexpr std::string_view kEffectSchema = "quillane.result.effect_confirmation.v1";
inline constexpr std::string_view kCapabilitySchema = "quillane.capability.v1";
inline constexpr std::string_view kApprovalSchema = "quillane.approval.v1";
inline constexpr std::string_view kSummarySchema = "quillane.summary.v1";
inline constexpr std::string_view kRefusalSchema = "quillane.refusal.v1";
inline constexpr std::string_view kUsageSchema = "quillane.usage.v1";
inline constexpr std::string_view kPlanSchema = "quillane.plan.v1";
inline constexpr std::string_view kRetractionSchema = "quillane.retraction.v1";

// An id that names no record.
inline RecordId unknown_id() { return sha256_utf8("no such record"); }

// A request whose scope is the log's space, which actions then share.
inline Json work_request_json(std::string objective = "tidy the repository") {
  return request_data_json(RequestData{std::move(objective), test_space(), {}, std::nullopt});
}

class WorkLog {
 public:
  using Commit = LogBuilder::Commit;

  explicit WorkLog(VerifierRules rules = test_rules()) : b(std::move(rules)) {
    request = b.accepted(kRequestSchema, work_request_json());
  }

  // An action of the provider under the log's request.
  ActionData act(std::string action_class = "deploy", ExecMode mode = ExecMode::Internal) const {
    return ActionData{request, std::move(action_class), test_space(), mode, Json(JsonObject{{"target", Json("prod")}})};
  }

  LogBuilder::Commit action(const ActionData& a, std::vector<Ref> refs = {}) {
    return b.commit(kActionSchema, action_data_json(a), std::move(refs));
  }

  RecordId capability(CapabilityMode mode, std::optional<std::uint64_t> expiry = std::nullopt,
                      std::string action_class = "deploy", std::vector<Ref> refs = {}) {
    return b.accepted(kCapabilitySchema,
                      capability_data_json({"provider", std::move(action_class), test_space(), mode, expiry}),
                      std::move(refs));
  }

  // An exact approval of `a` as the provider would write it.
  RecordId exact_approval(const ActionData& a, std::optional<std::uint64_t> expiry = std::nullopt,
                          std::string actor = "provider", Digest scope = test_space()) {
    auto digest = action_approval_digest("provider", a);
    EXPECT_TRUE(digest.ok());
    return b.accepted(kApprovalSchema,
                      approval_data_json({*digest, std::nullopt, scope, std::move(actor), expiry}));
  }

  // A class approval of "deploy", for the actor or for anyone.
  RecordId class_approval(std::optional<std::string> actor, std::optional<std::uint64_t> expiry = std::nullopt,
                          std::vector<Ref> refs = {}) {
    return b.accepted(kApprovalSchema,
                      approval_data_json({std::nullopt, "deploy", test_space(), std::move(actor), expiry}),
                      std::move(refs));
  }

  // An accepted Action under an Auto capability of its class.
  RecordId open_action(ExecMode mode = ExecMode::Internal, std::string action_class = "deploy") {
    const RecordId cap = capability(CapabilityMode::Auto, std::nullopt, action_class);
    const Commit c = action(act(std::move(action_class), mode), {require(cap)});
    EXPECT_TRUE(c.judgement.accepted()) << judgement_name(c.judgement);
    return c.id;
  }

  static Json result_json(const RecordId& action_id) {
    return result_data_json({action_id, ResultStatus::Success, "done", std::nullopt});
  }

  LogBuilder::Commit result(const RecordId& action_id, std::string_view schema = kResultSchema) {
    return b.commit(schema, result_json(action_id), {cause(action_id)});
  }

  RecordId closed_action() {
    const RecordId a = open_action();
    b.accepted(kResultSchema, result_json(a), {cause(a)});
    return a;
  }

  LogBuilder::Commit retract(const RecordId& target, std::string author = "user") {
    return b.commit(kRetractionSchema, retraction_data_json({target, "wrong"}), {cause(target)}, std::move(author));
  }

  // A record that a later retraction compromises: `make` commits a record
  // resting on a fresh victim, which is then retracted.
  RecordId tainted(const std::function<RecordId(const RecordId& victim)>& make) {
    const RecordId victim = b.accepted(kRequestSchema, work_request_json("victim"));
    const RecordId id = make(victim);
    EXPECT_TRUE(retract(victim).judgement.accepted());
    EXPECT_TRUE(b.state().tainted_records.contains(id));
    return id;
  }

  // Two accepted Requests whose ids sort before and after `target`: a
  // reference list holding both puts `target` in the middle.
  std::pair<RecordId, RecordId> requests_around(const RecordId& target) {
    std::optional<RecordId> before, after;
    for (int i = 0; !before || !after; ++i) {
      const RecordId id = b.accepted(kRequestSchema, work_request_json("neighbour " + std::to_string(i)));
      (id < target ? before : after) = id;
    }
    return {*before, *after};
  }

  // Judges a record against the log's records and an altered copy of its state.
  Judgement judge_with_state(const Record& subject, const std::function<void(State&)>& alter) const {
    const std::vector<Record> records = b.records();
    const PriorIndex prior = PriorIndex::of(records);
    State state = b.state();
    alter(state);
    return check_record(subject, prior, b.rules, state);
  }

  LogBuilder b;
  RecordId request{};
};

// One row of a table of small logs: the case builds its log and returns the
// judgement of the record under test.
struct LogCase {
  std::string name;
  std::function<Judgement(WorkLog&)> run;
  std::string expected;
};

inline void run_cases(const std::vector<LogCase>& cases) {
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.name);
    WorkLog w;
    EXPECT_EQ(judgement_name(c.run(w)), c.expected);
  }
}

}  // namespace quillane::test
