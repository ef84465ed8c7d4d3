// Replay of whole logs against their Verdicts.
#include <gtest/gtest.h>

#include "evolution_builders.h"
#include "log_fixture.h"
#include "record/identity.h"
#include "verify/verifier/replay.h"

namespace quillane {
namespace {

using namespace test;

// request, root candidate, evaluation, selection, each with its Verdict.
LogBuilder small_log() {
  LogBuilder log;
  const RecordId request = log.accepted("quillane.request.v1", request_json());
  const RecordId root = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(request)});
  const RecordId eval = log.accepted("quillane.evaluation.v1", evaluation_json(root), {use(root)});
  log.accepted("quillane.selection.v1", selection_json({root}, std::vector<Digest>{root}), {use(eval), require(root)});
  return log;
}

Record reseal(Record r) { return *with_computed_id(std::move(r)); }

// Replaces the Verdict at `index` with one stating `judgement`.
void restate(std::vector<Record>& records, std::size_t index, Judgement judgement) {
  records[index] = *materialize_verdict(records[index - 1], records[index].time, judgement);
}

std::string outcome(const LogVerdict& v) {
  return v.invalid ? std::string(name_of(*v.reason)) + " after " + std::to_string(v.checked) : "valid";
}

TEST(Replay, ValidLogs) {
  LogBuilder log = small_log();
  const auto records = log.records();
  const LogVerdict v = verify_log(records, log.rules);
  EXPECT_FALSE(v.invalid);
  EXPECT_EQ(v.checked, records.size());
  EXPECT_EQ(v.last_time, records.size());
  EXPECT_TRUE(v.retracted.empty() && v.tainted.empty());
  const LogVerdict empty = verify_log({}, log.rules);
  EXPECT_FALSE(empty.invalid);
  EXPECT_EQ(empty.checked + empty.last_time, 0u);

  auto state = verify_and_build_state(records, log.rules);
  ASSERT_TRUE(std::holds_alternative<State>(state));
  EXPECT_EQ(std::get<State>(state), log.state());
  EXPECT_EQ(*build_state_unchecked(records), log.state());
}

TEST(Replay, Violations) {
  const LogBuilder base = small_log();
  struct Case {
    const char* name;
    std::function<void(std::vector<Record>&)> edit;
    std::string expected;
  };
  const Case cases[] = {
      {"first time 0", [](auto& r) { r[0].time = 0; r[0] = reseal(r[0]); }, "InvalidPayload after 0"},
      {"time gap", [](auto& r) { r[3].time = 9; r[3] = reseal(r[3]); }, "InvalidPayload after 0"},
      {"altered id", [](auto& r) { r[4].id[0] ^= 1; }, "InvalidPayload after 0"},
      {"ends without verdict", [](auto& r) { r.pop_back(); }, "InvalidPayload after 6"},
      {"two verdicts", [](auto& r) {
         Record second = r[1];
         second.time = 3;
         second = reseal(second);
         r.resize(2);
         r.push_back(second);
       }, "InvalidPayload after 2"},
      {"accept for a rejected record", [](auto& r) {
         // A continuation without a parent is LineageInvalid.
         LogBuilder b;
         b.append(r[0]);
         PendingRecord p = b.pending("quillane.candidate.v1", candidate_json(CandidateBasis::Continuation), {cause(r[0].id)});
         Record bad = b.finish(p);
         bad.time = 3;
         bad = reseal(bad);
         r.resize(2);
         r.push_back(bad);
         r.push_back(*materialize_verdict(bad, 4, Judgement::accept()));
       }, "LineageInvalid after 2"},
      {"reject for an accepted record", [](auto& r) { restate(r, 3, ReasonCode::SelectionInvalid); }, "InvalidPayload after 2"},
      {"wrong reason", [](auto& r) {
         LogBuilder b;
         b.append(r[0]);
         Record bad = b.finish(b.pending("quillane.candidate.v1", candidate_json(CandidateBasis::Continuation)));
         r.resize(2);
         r.push_back(bad);
         r.push_back(*materialize_verdict(bad, 4, ReasonCode::SelectionInvalid));
       }, "LineageInvalid after 2"},
      {"signed verdict", [](auto& r) {
         r[1].author.signature = Signature{"00", {1}};
         r[1] = reseal(r[1]);
       }, "InvalidPayload after 0"},
      {"verdict evidence", [](auto& r) {
         r[1].evidence = Evidence::Reported;
         r[1] = reseal(r[1]);
       }, "InvalidPayload after 0"},
      {"verdict with the action schema", [](auto& r) {
         r[1].schema = schema_id("quillane.action.v1");
         r[1] = reseal(r[1]);
       }, "KindSchemaMismatch after 0"},
      {"verdict for another subject", [](auto& r) {
         r[3].refs = {cause(r[0].id)};
         r[3] = reseal(r[3]);
       }, "InvalidPayload after 2"},
      {"accept with a reason", [](auto& r) {
         const std::string text = R"({"reason":"Refused","result":"Accept"})";
         r[1].data.assign(text.begin(), text.end());
         r[1] = reseal(r[1]);
       }, "InvalidPayload after 0"},
      {"verdict first", [](auto& r) { r.erase(r.begin()); for (std::size_t i = 0; i < r.size(); ++i) { r[i].time = i + 1; r[i] = reseal(r[i]); } },
       "RefUnresolved after 0"},
  };
  for (const auto& c : cases) {
    std::vector<Record> records = base.records();
    c.edit(records);
    EXPECT_EQ(outcome(verify_log(records, base.rules)), c.expected) << c.name;
  }
}

TEST(Replay, RejectedSubjectsChangeNothing) {
  LogBuilder log;
  const RecordId request = log.accepted("quillane.request.v1", request_json());
  const auto rejected = log.commit("quillane.candidate.v1", candidate_json(CandidateBasis::Continuation), {use(request)});
  EXPECT_EQ(judgement_name(rejected.judgement), "LineageInvalid");
  EXPECT_FALSE(log.state().accepted(rejected.id));
  EXPECT_FALSE(log.state().epistemic_dependents.contains(request));
  const LogVerdict v = verify_log(log.records(), log.rules);
  EXPECT_FALSE(v.invalid) << outcome(v);
}

TEST(Replay, RetractionReportsRetractedAndTainted) {
  LogBuilder log;
  const RecordId root = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root));
  const RecordId eval = log.accepted("quillane.evaluation.v1", evaluation_json(root), {use(root)});
  const RecordId sel = log.accepted("quillane.selection.v1", selection_json({root}, std::vector<Digest>{root}),
                                    {use(eval), require(root)});
  log.accepted("quillane.retraction.v1", retraction_json(root), {cause(root)}, "provider");
  const LogVerdict v = verify_log(log.records(), log.rules);
  ASSERT_FALSE(v.invalid) << outcome(v);
  EXPECT_EQ(v.retracted, std::set<RecordId>{root});
  EXPECT_EQ(v.tainted, (std::set<RecordId>{eval, sel}));
}

}  // namespace
}  // namespace quillane
