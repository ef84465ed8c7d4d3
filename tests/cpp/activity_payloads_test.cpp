#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/jcs_writer.h"
#include "record/activity_payloads.h"
#include "test_util.h"

namespace quillane {
namespace {

using test::error_of;

Digest filled(std::uint8_t b) {
  Digest d;
  d.fill(b);
  return d;
}

std::string digest_text(int fill, std::size_t n = 32) {
  std::string s = "[";
  for (std::size_t i = 0; i < n; ++i) s += (i ? "," : "") + std::to_string(fill);
  return s + "]";
}

const std::string D1 = digest_text(1), D2 = digest_text(2), D3 = digest_text(3), D4 = digest_text(4);

// Canonical bytes of a decoded text, or the decoding or encoding error.
template <auto Decode, auto ToJson>
Result<std::string> reencode(std::string_view text) {
  QL_ASSIGN(auto value, Decode(text));
  return canonical_json(ToJson(value));
}

using Reencode = std::function<Result<std::string>(std::string_view)>;
const Reencode kAction = reencode<decode_action_data, action_data_json>;
const Reencode kResponse = reencode<decode_response_data, response_data_json>;
const Reencode kResult = reencode<decode_result_data, result_data_json>;
const Reencode kSummary = reencode<decode_summary_data, summary_data_json>;
const Reencode kCapability = reencode<decode_capability_data, capability_data_json>;
const Reencode kUsage = reencode<decode_usage_data, usage_data_json>;
const Reencode kRefusal = reencode<decode_refusal_data, refusal_data_json>;
const Reencode kApproval = reencode<decode_approval_data, approval_data_json>;
const Reencode kPlan = reencode<decode_plan_data, plan_data_json>;

// `value` encodes to exactly `canonical`, and `canonical` decodes back to `value`.
template <typename T, typename Decode, typename ToJson>
void expect_round_trip(const T& value, const std::string& canonical, Decode decode, ToJson to_json) {
  SCOPED_TRACE(canonical);
  auto bytes = canonical_json(to_json(value));
  ASSERT_TRUE(bytes.ok()) << bytes.error().message;
  EXPECT_EQ(*bytes, canonical);
  auto decoded = decode(canonical);
  ASSERT_TRUE(decoded.ok()) << decoded.error().message;
  EXPECT_TRUE(*decoded == value);
}

const std::string kBareTask =
    R"({"id":"t1","description":"look","status":"pending","on_failure":"continue"})";
const std::string kBareTaskCanonical =
    R"({"depends_on":[],"description":"look","done_when":"tool_success","id":"t1","inputs_from":[],)"
    R"("kind":"generic","on_failure":"continue","produces":null,"result_record_id":null,"status":"pending",)"
    R"("tool_hint":null})";

std::string plan_with(const std::string& task) {
  return "{\"request_id\":" + D1 + ",\"status\":\"running\",\"tasks\":[" + task + "]}";
}

// The bare task with `member` added before the closing brace.
std::string bare_task_with(const std::string& member) {
  return kBareTask.substr(0, kBareTask.size() - 1) + "," + member + "}";
}

TEST(ActivityPayloads, RoundTripEveryStructure) {
  // Members in sorted order: decoding keeps the order of the text.
  Json params(JsonObject{{"a", Json(JsonObject{})},
                         {"z", Json(JsonArray{Json(1), Json(-2), Json(0.5), Json("x"), Json(), Json(true)})}});
  expect_round_trip(ActionData{filled(1), "deploy", filled(2), ExecMode::External, params},
                    R"({"action_class":"deploy","exec_mode":"External","params":{"a":{},"z":[1,-2,0.5,"x",null,true]},)"
                    R"("request_id":)" + D1 + R"(,"scope":)" + D2 + "}",
                    decode_action_data, action_data_json);
  expect_round_trip(ResponseData{filled(1), "done\n", 4294967295u, true},
                    R"({"closes_request":true,"content":"done\n","request_id":)" + D1 +
                        R"(,"turn_index":4294967295})",
                    decode_response_data, response_data_json);
  expect_round_trip(ResultData{filled(3), ResultStatus::Failure, "boom",
                               std::vector<ArtifactRef>{{"sha256-bytes", "ab", std::nullopt}, {"x", "cd", "out"}}},
                    R"({"action_id":)" + D3 +
                        R"(,"artifacts":[{"digest":"ab","name":null,"scheme":"sha256-bytes"},)"
                        R"({"digest":"cd","name":"out","scheme":"x"}],"output":"boom","status":"Failure"})",
                    decode_result_data, result_data_json);
  expect_round_trip(ResultData{filled(3), ResultStatus::Success, "", std::vector<ArtifactRef>{}},
                    R"({"action_id":)" + D3 + R"(,"artifacts":[],"output":"","status":"Success"})",
                    decode_result_data, result_data_json);
  expect_round_trip(ResultData{filled(3), ResultStatus::Success, "", std::nullopt},
                    R"({"action_id":)" + D3 + R"(,"output":"","status":"Success"})", decode_result_data,
                    result_data_json);
  expect_round_trip(SummaryData{SummaryType::StateSnapshot, filled(4), filled(2), {0, 255, 7}},
                    R"({"claim_payload":[0,255,7],"scope":)" + D2 + R"(,"subject":)" + D4 +
                        R"(,"summary_type":"StateSnapshot"})",
                    decode_summary_data, summary_data_json);
  expect_round_trip(CapabilityData{"bot", "deploy", filled(2), CapabilityMode::Deny, 9007199254740991u},
                    R"({"action_class":"deploy","actor_id":"bot","expiry":9007199254740991,"mode":"Deny","scope":)" +
                        D2 + "}",
                    decode_capability_data, capability_data_json);
  expect_round_trip(CapabilityData{"bot", "deploy", filled(2), CapabilityMode::Ask, std::nullopt},
                    R"({"action_class":"deploy","actor_id":"bot","expiry":null,"mode":"Ask","scope":)" + D2 + "}",
                    decode_capability_data, capability_data_json);
  expect_round_trip(UsageData{"bot", filled(4), filled(3), "input", UsageOutcome::NotDone},
                    R"({"actor":"bot","consuming_record":)" + D3 + R"(,"outcome":"NotDone","role":"input",)"
                    R"("used_record":)" + D4 + "}",
                    decode_usage_data, usage_data_json);
  expect_round_trip(RefusalData{filled(1), RefusalTarget::VerifiedEffect, ReasonCode::CapabilityDenied},
                    R"({"reason_code":"CapabilityDenied","target_id":)" + D1 + R"(,"target_kind":"VerifiedEffect"})",
                    decode_refusal_data, refusal_data_json);
  expect_round_trip(RefusalData{filled(1), RefusalTarget::Request, std::nullopt},
                    R"({"reason_code":null,"target_id":)" + D1 + R"(,"target_kind":"Request"})",
                    decode_refusal_data, refusal_data_json);
  expect_round_trip(ApprovalData{filled(4), std::nullopt, filled(2), "bot", 12u},
                    R"({"action_class":null,"actor_id":"bot","expiry":12,"scope":)" + D2 +
                        R"(,"target_action":)" + D4 + "}",
                    decode_approval_data, approval_data_json);
  expect_round_trip(ApprovalData{std::nullopt, "deploy", filled(2), std::nullopt, std::nullopt},
                    R"({"action_class":"deploy","actor_id":null,"expiry":null,"scope":)" + D2 +
                        R"(,"target_action":null})",
                    decode_approval_data, approval_data_json);

  PlanTask bare;  // every defaulted key at its default
  bare.id = "t1";
  bare.description = "look";
  const PlanTask full{.id = "t2",
                      .description = "write it",
                      .kind = PlanTaskKind::Summarize,
                      .tool_hint = "editor",
                      .inputs_from = {"t1"},
                      .produces = "report",
                      .done_when = TaskDoneWhen::FinalResponse,
                      .status = TaskStatus::Done,
                      .result_record_id = filled(3),
                      .depends_on = {"t1", "t0"},
                      .on_failure = FailurePolicy::AskUser};
  expect_round_trip(PlanData{filled(1), {bare, full}, PlanStatus::Completed},
                    "{\"request_id\":" + D1 + ",\"status\":\"completed\",\"tasks\":[" + kBareTaskCanonical +
                        R"(,{"depends_on":["t1","t0"],"description":"write it","done_when":"final_response",)"
                        R"("id":"t2","inputs_from":["t1"],"kind":"summarize","on_failure":"ask_user",)"
                        R"("produces":"report","result_record_id":)" + D3 +
                        R"(,"status":"done","tool_hint":"editor"}]})",
                    decode_plan_data, plan_data_json);

  EXPECT_EQ(*canonical_json(usage_outcome_counts_json(UsageOutcomeCounts{3, 0, 1})),
            R"({"done":3,"no_change":1,"not_done":0})");
}

// Texts that decode but are not canonical: the re-encoding differs.
TEST(ActivityPayloads, NonCanonicalTextsReencode) {
  struct Case {
    Reencode reencode;
    std::string text, canonical;
  };
  const std::string result_tail = R"(,"output":"","status":"Success"})";
  const Case cases[] = {
      // A null artifacts list is none, which is left out.
      {kResult, R"({"action_id":)" + D3 + R"(,"artifacts":null)" + result_tail,
       R"({"action_id":)" + D3 + result_tail},
      // Only the scope: the other four keys are written as null.
      {kApproval, R"({"scope":)" + D2 + "}",
       R"({"action_class":null,"actor_id":null,"expiry":null,"scope":)" + D2 + R"(,"target_action":null})"},
      // Absent optional keys without a default, and key order and white space.
      {kCapability, "{ \"scope\":" + D2 + R"(, "mode":"Auto","action_class":"c","actor_id":"a"})",
       R"({"action_class":"c","actor_id":"a","expiry":null,"mode":"Auto","scope":)" + D2 + "}"},
      {kRefusal, R"({"target_kind":"Action","target_id":)" + D1 + "}",
       R"({"reason_code":null,"target_id":)" + D1 + R"(,"target_kind":"Action"})"},
      // A task without its defaulted keys decodes with the defaults, which are then written.
      {kPlan, plan_with(kBareTask), plan_with(kBareTaskCanonical)},
      // Members of params are sorted; 1.0 is written 1.
      {kAction, R"({"request_id":)" + D1 + R"(,"action_class":"a","scope":)" + D2 +
                    R"(,"exec_mode":"Internal","params":{"b":1.0,"a":[2.50,1e2]}})",
       R"({"action_class":"a","exec_mode":"Internal","params":{"a":[2.5,100],"b":1},"request_id":)" + D1 +
           R"(,"scope":)" + D2 + "}"},
  };
  for (const auto& c : cases) {
    auto bytes = c.reencode(c.text);
    ASSERT_TRUE(bytes.ok()) << c.text << ": " << bytes.error().message;
    EXPECT_EQ(*bytes, c.canonical);
    EXPECT_NE(*bytes, c.text);
  }
}

TEST(ActivityPayloads, AbsentAndNullMeanNone) {
  auto absent = decode_approval_data("{\"scope\":" + D2 + "}");
  auto null = decode_approval_data(
      R"({"target_action":null,"action_class":null,"scope":)" + D2 + R"(,"actor_id":null,"expiry":null})");
  ASSERT_TRUE(absent.ok() && null.ok());
  EXPECT_EQ(*absent, (ApprovalData{std::nullopt, std::nullopt, filled(2), std::nullopt, std::nullopt}));
  EXPECT_EQ(*null, *absent);

  auto without = decode_result_data(R"({"action_id":)" + D3 + R"(,"status":"Success","output":""})");
  auto with_null = decode_result_data(R"({"action_id":)" + D3 + R"(,"status":"Success","output":"","artifacts":null})");
  ASSERT_TRUE(without.ok() && with_null.ok());
  EXPECT_FALSE(without->artifacts.has_value());
  EXPECT_EQ(*with_null, *without);

  auto plan = decode_plan_data(plan_with(kBareTask));
  ASSERT_TRUE(plan.ok()) << plan.error().message;
  const PlanTask& task = plan->tasks.at(0);
  EXPECT_EQ(task.kind, PlanTaskKind::Generic);
  EXPECT_EQ(task.done_when, TaskDoneWhen::ToolSuccess);
  EXPECT_TRUE(task.inputs_from.empty());
  EXPECT_TRUE(task.depends_on.empty());
  EXPECT_FALSE(task.tool_hint || task.produces || task.result_record_id);
}

TEST(ActivityPayloads, ParamsOutsideTheCanonicalRange) {
  auto action = decode_action_data(R"({"request_id":)" + D1 + R"(,"action_class":"a","scope":)" + D2 +
                                   R"(,"exec_mode":"Internal","params":{"n":1e16}})");
  ASSERT_TRUE(action.ok()) << action.error().message;
  EXPECT_EQ(error_of(canonical_json(action_data_json(*action))),
            "number 10000000000000000 would serialize as an integer outside the I-JSON safe range required by JCS");
}

TEST(ActivityPayloads, DecodeErrors) {
  const std::string action_head = R"({"request_id":)" + D1 + R"(,"action_class":"a","scope":)" + D2;
  const std::string summary_head = R"({"summary_type":"Lesson","subject":)" + D1 + R"(,"scope":)" + D2;
  const std::string response_head = R"({"request_id":)" + D1 + R"(,"content":"c","closes_request":false)";
  struct Case {
    Reencode reencode;
    std::string text;
    std::string error;  // message without its position
  };
  const Case cases[] = {
      {kAction, action_head + R"(,"exec_mode":"internal","params":null})",
       "unknown variant `internal`, expected `Internal` or `External`"},
      {kPlan, "{\"request_id\":" + D1 + R"(,"status":"Running","tasks":[]})",
       "unknown variant `Running`, expected one of `running`, `completed`, `abandoned`"},
      {kPlan, plan_with(bare_task_with(R"("done_when":"ToolSuccess")")),
       "unknown variant `ToolSuccess`, expected one of `tool_success`, `non_empty_result`, `content_retrieved`, "
       "`final_response`"},
      {kSummary, summary_head + R"(,"claim_payload":"abc"})",
       "invalid type: string \"abc\", expected a sequence"},
      {kSummary, summary_head + R"(,"claim_payload":[256]})", "invalid value: integer `256`, expected u8"},
      {kResponse, response_head + R"(,"turn_index":4294967296})",
       "invalid value: integer `4294967296`, expected u32"},
      {kResponse, response_head + R"(,"turn_index":-1})", "invalid value: integer `-1`, expected u32"},
      {kCapability,
       R"({"actor_id":"a","action_class":"c","scope":)" + D2 + R"(,"mode":"Auto","expiry":18446744073709551616})",
       "invalid type: floating point `18446744073709552000.0`, expected u64"},
      {kRefusal, R"({"target_id":)" + D1 + R"(,"target_kind":"Action","reason_code":"NoReason"})",
       "unknown variant `NoReason`, expected " +
           expected_one_of(std::span<const std::string_view>(EnumNames<ReasonCode>::names))},
      {kUsage, R"({"actor":"a","used_record":)" + digest_text(1, 31) + "}",
       "invalid length 31, expected an array of 32 integers"},
      // Keys with a default may be absent but not null.
      {kPlan, plan_with(bare_task_with(R"("kind":null)")), "invalid type: null, expected variant identifier"},
      {kPlan, plan_with(bare_task_with(R"("done_when":null)")), "invalid type: null, expected variant identifier"},
      {kPlan, plan_with(bare_task_with(R"("inputs_from":null)")), "invalid type: null, expected a sequence"},
      {kPlan, plan_with(bare_task_with(R"("depends_on":null)")), "invalid type: null, expected a sequence"},
      // Required keys may not be null either.
      {kAction, action_head + R"(,"exec_mode":null,"params":1})", "invalid type: null, expected variant identifier"},
      // Field bookkeeping.
      {kApproval, R"({"scope":)" + D2 + R"(,"actor":"x"})",
       "unknown field `actor`, expected one of `target_action`, `action_class`, `scope`, `actor_id`, `expiry`"},
      {kPlan, plan_with(bare_task_with(R"("priority":1)")),
       "unknown field `priority`, expected one of `id`, `description`, `kind`, `tool_hint`, `inputs_from`, "
       "`produces`, `done_when`, `status`, `result_record_id`, `depends_on`, `on_failure`"},
      {kApproval, R"({"scope":)" + D2 + R"(,"expiry":null,"expiry":3})", "duplicate field `expiry`"},
      {kPlan, plan_with(bare_task_with(R"("id":"t9")")), "duplicate field `id`"},
      {kResult, R"({"status":"Success","action_id":)" + D3 + "}", "missing field `output`"},
      {kPlan, plan_with(R"({"id":"t1","description":"d","status":"pending"})"), "missing field `on_failure`"},
      {kPlan, "{\"request_id\":" + D1 + R"(,"status":"running"})", "missing field `tasks`"},
      {kResult, R"({"action_id":)" + D3 + R"(,"status":"Success","output":"","artifacts":[{"scheme":"x"}]})",
       "missing field `digest`"},
      {kResult, R"({"action_id":)" + D3 + R"(,"status":"Success","output":""} {})", "trailing characters"},
      {kUsage, "[]", "invalid type: sequence, expected struct UsageData"},
  };
  for (const auto& c : cases) {
    const std::string error = error_of(c.reencode(c.text));
    EXPECT_EQ(error.substr(0, error.rfind(" at line ")), c.error) << c.text;
  }
}

TEST(ActivityPayloads, ErrorsCarryTheirPosition) {
  const std::string text = "{\"request_id\":" + D1 + ",\"tasks\":[],\n\"status\":\"Running\"}";
  EXPECT_EQ(error_of(decode_plan_data(text)),
            "unknown variant `Running`, expected one of `running`, `completed`, `abandoned` at line 2 column 18");
  EXPECT_EQ(error_of(decode_approval_data("{\n  \"scope\": null}")),
            "invalid type: null, expected an array of 32 integers at line 2 column 15");
}

}  // namespace
}  // namespace quillane
