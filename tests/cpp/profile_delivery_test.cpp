// The delivery profile over small in-memory logs, and the pinned hashes of
// every known profile table.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "profiles/core_v1.h"
#include "profiles/delivery_v1.h"
#include "profiles/registry.h"
#include "profiles/signed_v1.h"
#include "receipt/validate.h"
#include "receipt_fixture.h"
#include "record/activity_payloads.h"

namespace quillane {
namespace {

using namespace test;

TEST(ProfileTables, KnownTablesAndPinnedHashes) {
  struct Case {
    std::string id;
    ProfileTable (*table)();
    std::vector<std::string> clause_ids;
    std::string hash;  // SHA-256 of the table's canonical JSON
  };
  const Case cases[] = {
      {"quillane-core-v1", core_v1_table, {"B1", "B2", "B3", "B4", "B5", "B6"},
       "93f74fd1d55213abc7e11ad911d38522283a7f212dd955b7e2b1bd827899dc8c"},
      {"quillane-core-signed-v1", signed_v1_table, {"S0", "S1", "S2", "S3"},
       "82a988d34240b6a6926bac4965b08ff29c94a650d79a872fff7991a376aa9676"},
      {"delivery-receipt-v1", delivery_v1_table, {"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7"},
       "77892851dcaa8741b25606bd242a28fc10b833c257c52f5a02b04151a93d72eb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const ProfileTable table = c.table();
    EXPECT_EQ(table.id, c.id);
    EXPECT_EQ(table.version, 1u);
    std::vector<std::string> clause_ids;
    for (const Clause& clause : table.clauses) clause_ids.push_back(clause.id);
    EXPECT_EQ(clause_ids, c.clause_ids);
    EXPECT_EQ(hex_encode(profile_table_hash(table)), c.hash);
    EXPECT_EQ(profile_table(c.id), table);
    EXPECT_EQ(profile_ref(c.id), (ProfileRef{c.id, 1, profile_table_hash(table)}));
  }
}

const ArtifactRef kTar{"git-archive-tar-v1", std::string(64, '1'), std::nullopt};
const ArtifactRef kImage{"oci-image-manifest", std::string(64, '2'), "parser:b"};
const ArtifactRef kBuilt{"sha256-bytes", std::string(64, '3'), std::nullopt};

// One evaluation of the delivery log; the defaults make a clean, passing,
// fully bound judgement of the delivery's candidate by the executor.
struct Eval {
  std::vector<RecordId> requirements{};
  std::vector<ArtifactRef> evidence{};
  EvaluationOutcomeV2 outcome = PlainOutcomeV2::Passed;
  std::string author = "executor";
  std::optional<RecordId> candidate{};  // default: the delivery's candidate
  Basis basis = Basis::Recomputed;
  bool hashes = true;  // procedure_hash and input_hash
};

// A request with two required requirements (latency, memory) and an
// informational one (docs), and the provider's candidate listing two
// artifacts; the user may retract anything.
struct Delivery {
  LogBuilder log{admin_rules()};
  RecordId request, latency, memory, docs, candidate;
  std::vector<RecordId> candidates;
  // Set by deliver(); `selection` is the claim the profile should evaluate.
  RecordId e_latency, e_memory, selection;
  std::function<void(Receipt&, Report&)> edit;  // applied after validation

  static VerifierRules admin_rules() {
    VerifierRules rules = test_rules();
    rules.admin_retraction_actors = {"user"};
    return rules;
  }

  Delivery() {
    request = log.accepted("quillane.request.v1", request_json());
    latency = requirement(request, "latency", true);
    memory = requirement(request, "memory", true);
    docs = requirement(request, "docs", false);
    candidate = propose(request);
  }

  RecordId requirement(const RecordId& under, std::string key, bool required) {
    const RequirementData r{std::move(key), "must hold", required, std::nullopt, Provenance::UserAuthored};
    return log.accepted("quillane.requirement.v1", requirement_data_json(r), {cause(under)});
  }

  RecordId propose(const RecordId& under, std::vector<ArtifactRef> artifacts = {kTar, kImage}) {
    CandidateData c = test::candidate(CandidateBasis::Root);
    c.artifacts = std::move(artifacts);
    candidates.push_back(log.accepted("quillane.candidate.v1", candidate_data_json(c), {cause(under)}));
    return candidates.back();
  }

  RecordId evaluate(Eval e) {
    const RecordId judged = e.candidate.value_or(candidate);
    EvaluationDataV2 d = evaluation_v2(judged);
    d.outcome = e.outcome;
    d.basis = e.basis;
    if (e.hashes) {
      d.evaluator.procedure_hash = sha256_utf8("bench procedure");
      d.evaluator.input_hash = sha256_utf8("bench input");
    }
    std::sort(e.requirements.begin(), e.requirements.end());
    std::sort(e.evidence.begin(), e.evidence.end());
    d.requirements = e.requirements;
    d.evidence = e.evidence;
    std::vector<Ref> refs = {use(judged)};
    for (const RecordId& r : e.requirements) refs.push_back(use(r));
    return log.accepted("quillane.evaluation.v2", evaluation_data_v2_json(d), refs, e.author);
  }

  RecordId evaluate_v1() {
    return log.accepted("quillane.evaluation.v1", evaluation_json(candidate), {use(candidate)});
  }

  // A Selection over every candidate, choosing `chosen` (default: the
  // delivery's candidate) on the evaluations; nullopt chooses none.
  RecordId select(const std::vector<RecordId>& evaluations,
                  std::optional<std::vector<RecordId>> chosen = std::vector<RecordId>{}) {
    if (chosen && chosen->empty()) chosen = {candidate};
    std::vector<Ref> refs;
    for (const RecordId& e : evaluations) refs.push_back(use(e));
    if (chosen)
      for (const RecordId& c : *chosen) refs.push_back(require(c));
    return log.accepted("quillane.selection.v1", selection_json(candidates, chosen), refs);
  }

  // Latency and memory each passed by one evaluation citing one artifact.
  void deliver(Eval memory_eval = {}) {
    e_latency = evaluate({.requirements = {latency}, .evidence = {kTar}});
    if (memory_eval.requirements.empty()) memory_eval.requirements = {memory};
    if (memory_eval.evidence.empty()) memory_eval.evidence = {kImage};
    e_memory = evaluate(std::move(memory_eval));
    selection = select({e_latency, e_memory});
  }

  RecordId retract(const RecordId& target) {
    return log.accepted("quillane.retraction.v1", retraction_json(target), {cause(target)}, "user");
  }

  // An accepted Result listing `artifacts`: it closes an action under a
  // fresh request, all three in `thread`.
  void result_in(const Digest& thread, std::vector<ArtifactRef> artifacts) {
    auto commit_in = [&](std::string_view schema, const Json& payload, std::vector<Ref> refs) {
      PendingRecord p = log.pending(schema, payload, std::move(refs));
      p.thread = thread;
      const LogBuilder::Commit c = log.commit(std::move(p));
      EXPECT_TRUE(c.judgement.accepted()) << schema << ": " << judgement_name(c.judgement);
      return c.id;
    };
    const RecordId work = commit_in("quillane.request.v1", request_data_json({"build", test_space(), {}, {}}), {});
    const RecordId grant = log.accepted(
        "quillane.capability.v1",
        capability_data_json({"provider", "build", test_space(), CapabilityMode::Auto, std::nullopt}));
    const RecordId action = commit_in(
        "quillane.action.v1",
        action_data_json({work, "build", test_space(), ExecMode::Internal, Json(JsonObject{})}), {require(grant)});
    commit_in("quillane.result.v1", result_data_json({action, ResultStatus::Success, "built", std::move(artifacts)}),
              {cause(action)});
  }

  ProfileResult judge() const {
    Receipt receipt = receipt_of(log);
    Report report = validate_with_limits(bytes_of(receipt), {});
    EXPECT_NE(report.status, ValidationStatus::Invalid) << report.problem.value_or("");
    if (edit) edit(receipt, report);
    return evaluate_delivery_v1(receipt, report);
  }
};

std::string sid(const RecordId& id) { return short_id(id); }

// The two ids in the order a record's Use refs hold them.
std::pair<RecordId, RecordId> ref_order(const RecordId& a, const RecordId& b) { return std::minmax(a, b); }

// Every clause passing for the claim `d.selection`.
std::vector<ClauseResult> delivered(const Delivery& d) {
  const std::string s = sid(d.selection);
  return {
      {"D0", true, "claim " + s + " for request " + sid(d.request)},
      {"D1", true, s + ": 2 required requirement(s) covered"},
      {"D2", true, s + ": every used evaluation of a required requirement passed"},
      {"D3", true, s + ": 2 evaluation(s) bound to the chosen candidate, evidence on the record"},
      {"D4", true, s + ": producer \"provider\", every evaluator distinct"},
      {"D5", true, s + ": weakest basis recomputed"},
      {"D6", true, "quillane-core-v1: Conformant (not declared; evaluated as the fallback)"},
      {"D7", true, s + ": sound, untainted"},
  };
}

struct Case {
  std::string name;
  // Builds the log (deliver() or its own claim) and returns the clauses
  // that differ from delivered(d).
  std::function<std::vector<ClauseResult>(Delivery&)> run;
};

TEST(ProfileDelivery, EachClausePassingAndFailing) {
  const std::string tar = "git-archive-tar-v1:" + kTar.digest;
  const std::string image = "oci-image-manifest:" + kImage.digest;
  const std::string built = "sha256-bytes:" + kBuilt.digest;
  const Case cases[] = {
      {"a delivery", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver();
         return {};
       }},
      {"memory never evaluated", [](Delivery& d) -> std::vector<ClauseResult> {
         d.e_latency = d.evaluate({.requirements = {d.latency}, .evidence = {kTar}});
         d.selection = d.select({d.e_latency});
         const std::string s = sid(d.selection);
         return {{"D1", false, s + ": uncovered memory"},
                 {"D3", true, s + ": 1 evaluation(s) bound to the chosen candidate, evidence on the record"}};
       }},
      {"a stale memory evaluation", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver({.outcome = PlainOutcomeV2::Stale});
         const std::string s = sid(d.selection);
         return {{"D1", false, s + ": uncovered memory"},
                 {"D2", false, s + ": non-passing " + sid(d.e_memory) + " stale"}};
       }},
      {"a scored memory evaluation", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver({.outcome = ScoredValue{875, 2}});
         const std::string s = sid(d.selection);
         return {{"D1", false, s + ": uncovered memory"},
                 {"D2", false, s + ": non-passing " + sid(d.e_memory) + " scored 875e-2"}};
       }},
      {"a failed informational requirement does not count", [](Delivery& d) -> std::vector<ClauseResult> {
         d.e_latency = d.evaluate({.requirements = {d.latency}, .evidence = {kTar}});
         d.e_memory = d.evaluate({.requirements = {d.memory}, .evidence = {kImage}});
         const RecordId e_docs =
             d.evaluate({.requirements = {d.docs}, .evidence = {kTar}, .outcome = PlainOutcomeV2::Failed});
         d.selection = d.select({d.e_latency, d.e_memory, e_docs});
         return {{"D3", true,
                  sid(d.selection) + ": 3 evaluation(s) bound to the chosen candidate, evidence on the record"}};
       }},
      {"the memory evaluation retracted", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver();
         d.retract(d.e_memory);
         const std::string s = sid(d.selection);
         return {{"D1", false, s + ": uncovered memory"}, {"D7", false, s + ": unsound, tainted"}};
       }},
      {"the memory requirement retracted", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver();
         d.retract(d.memory);
         const std::string s = sid(d.selection);
         return {{"D1", true, s + ": 1 required requirement(s) covered"}, {"D7", false, s + ": unsound, tainted"}};
       }},
      {"the selection retracted", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver();
         d.retract(d.selection);
         return {{"D7", false, sid(d.selection) + ": unsound, retracted"}};
       }},
      {"another record retracted", [](Delivery& d) -> std::vector<ClauseResult> {
         const RecordId abandoned = d.propose(d.request);
         d.deliver();
         d.retract(abandoned);
         return {};
       }},
      {"evidence missing", [](Delivery& d) -> std::vector<ClauseResult> {
         d.e_latency = d.evaluate({.requirements = {d.latency}, .evidence = {kTar}});
         d.e_memory = d.evaluate({.requirements = {d.memory}});
         d.selection = d.select({d.e_latency, d.e_memory});
         return {{"D3", false, sid(d.selection) + ": " + sid(d.e_memory) + " has no evidence"}};
       }},
      {"evidence not on the record", [&](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver({.evidence = {kBuilt}});
         return {{"D3", false,
                  sid(d.selection) + ": " + sid(d.e_memory) + " cites " + built + " which is not on the record"}};
       }},
      {"evidence on a Result in the candidate's thread", [](Delivery& d) -> std::vector<ClauseResult> {
         d.result_in(test_space(), {kBuilt});
         d.deliver({.evidence = {kBuilt}});
         return {};
       }},
      {"evidence on a Result in another thread", [&](Delivery& d) -> std::vector<ClauseResult> {
         d.result_in(sha256_utf8("another thread"), {kBuilt});
         d.deliver({.evidence = {kBuilt}});
         return {{"D3", false,
                  sid(d.selection) + ": " + sid(d.e_memory) + " cites " + built + " which is not on the record"}};
       }},
      {"evidence under another name", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver({.evidence = {ArtifactRef{kImage.scheme, kImage.digest, "renamed"}}});
         return {};
       }},
      {"an evaluation of another candidate", [](Delivery& d) -> std::vector<ClauseResult> {
         const RecordId other = d.propose(d.request);
         d.deliver({.candidate = other});
         return {{"D3", false, sid(d.selection) + ": " + sid(d.e_memory) + " judges another candidate"}};
       }},
      {"two candidates chosen", [&](Delivery& d) -> std::vector<ClauseResult> {
         const RecordId other = d.propose(d.request);
         d.e_latency = d.evaluate({.requirements = {d.latency}, .evidence = {kTar}});
         d.e_memory = d.evaluate({.requirements = {d.memory}, .evidence = {kImage}});
         d.selection = d.select({d.e_latency, d.e_memory}, std::vector<RecordId>{d.candidate, other});
         const std::string s = sid(d.selection);
         auto [first, second] = ref_order(d.e_latency, d.e_memory);
         auto cites = [&](const RecordId& e) { return e == d.e_latency ? tar : image; };
         return {{"D3", false,
                  s + ": chooses 2 candidates; " + sid(first) + " judges another candidate; " + sid(first) + " cites " +
                      cites(first) + " which is not on the record; " + sid(second) + " judges another candidate; " +
                      sid(second) + " cites " + cites(second) + " which is not on the record"},
                 {"D4", false, s + ": no single claimed candidate"}};
       }},
      {"the producer evaluates its own candidate", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver({.author = "provider"});
         const std::string s = sid(d.selection);
         return {{"D4", false, s + ": producer \"provider\" authored evaluation(s) " + sid(d.e_memory)}};
       }},
      {"a v1 evaluation used as well", [](Delivery& d) -> std::vector<ClauseResult> {
         d.e_latency = d.evaluate({.requirements = {d.latency}, .evidence = {kTar}});
         d.e_memory = d.evaluate({.requirements = {d.memory}, .evidence = {kImage}});
         d.selection = d.select({d.e_latency, d.e_memory, d.evaluate_v1()});
         const std::string s = sid(d.selection);
         return {{"D3", false, s + ": 1 evaluation(s) without an evidence set (v1 shape)"},
                 {"D5", false, s + ": 1 evaluation(s) carry no decider binding (v1 shape); weakest basis recomputed"}};
       }},
      {"a declared basis", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver({.basis = Basis::Declared});
         return {{"D5", true, sid(d.selection) + ": weakest basis declared"}};
       }},
      {"an evaluator without hashes", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver({.basis = Basis::Declared, .hashes = false});
         const std::string s = sid(d.selection);
         return {{"D5", false,
                  s + ": " + sid(d.e_memory) + " lacks procedure_hash or input_hash; weakest basis declared"}};
       }},
      {"the core profile declared", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver();
         d.edit = [](Receipt& r, Report&) { r.profiles = {*profile_ref(kCoreV1Id)}; };
         return {{"D6", true, "quillane-core-v1: Conformant (declared, declaration matches)"}};
       }},
      {"the core profile declared with a wrong hash", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver();
         d.edit = [](Receipt& r, Report&) {
           ProfileRef core = *profile_ref(kCoreV1Id);
           core.hash[31] ^= 1;
           r.profiles = {*profile_ref(kDeliveryV1Id), core};
         };
         return {{"D6", false, "quillane-core-v1: Conformant (declared, DECLARATION MISMATCH)"}};
       }},
      {"the core profile not met", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver();
         d.edit = [](Receipt& r, Report&) { r.rules.max_context_records = 0; };
         return {{"D6", false, "quillane-core-v1: NonConformant (not declared; evaluated as the fallback)"}};
       }},
      {"a later claim made unsound: the earlier one is evaluated", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver();
         const RecordId rerun = d.evaluate({.requirements = {d.memory}, .evidence = {kImage}});
         const RecordId later = d.select({d.e_latency, rerun});
         d.retract(rerun);
         return {{"D0", true,
                  "claim " + sid(d.selection) + " for request " + sid(d.request) + "; superseded: " + sid(later)}};
       }},
      {"both claims unsound: the later one is evaluated", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver();
         const RecordId earlier = d.selection;
         const RecordId rerun = d.evaluate({.requirements = {d.memory}, .evidence = {kImage}});
         d.selection = d.select({d.e_latency, rerun});
         d.retract(rerun);
         d.retract(d.e_latency);
         const std::string s = sid(d.selection);
         return {{"D0", true, "claim " + s + " for request " + sid(d.request) + "; superseded: " + sid(earlier)},
                 {"D1", false, s + ": uncovered latency, memory"},
                 {"D7", false, s + ": unsound, tainted"}};
       }},
      {"claims for two requests, each judged", [](Delivery& d) -> std::vector<ClauseResult> {
         d.deliver();
         const RecordId request2 = d.log.accepted("quillane.request.v1", request_json("second"));
         const RecordId speed = d.requirement(request2, "speed", true);
         const RecordId candidate2 = d.propose(request2, {kBuilt});
         const RecordId own = d.evaluate(
             {.requirements = {speed}, .evidence = {kBuilt}, .author = "provider", .candidate = candidate2});
         const RecordId second = d.select({own}, std::vector<RecordId>{candidate2});
         const std::string s = sid(d.selection), t = sid(second);
         return {
             {"D0", true,
              "claim " + s + " for request " + sid(d.request) + "; claim " + t + " for request " + sid(request2)},
             {"D1", true, s + ": 2 required requirement(s) covered; " + t + ": 1 required requirement(s) covered"},
             {"D2", true,
              s + ": every used evaluation of a required requirement passed; " + t +
                  ": every used evaluation of a required requirement passed"},
             {"D3", true,
              s + ": 2 evaluation(s) bound to the chosen candidate, evidence on the record; " + t +
                  ": 1 evaluation(s) bound to the chosen candidate, evidence on the record"},
             {"D4", false,
              s + ": producer \"provider\", every evaluator distinct; " + t +
                  ": producer \"provider\" authored evaluation(s) " + sid(own)},
             {"D5", true, s + ": weakest basis recomputed; " + t + ": weakest basis recomputed"},
             {"D7", true, s + ": sound, untainted; " + t + ": sound, untainted"},
         };
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Delivery d;
    const std::vector<ClauseResult> changed = c.run(d);
    std::vector<ClauseResult> expected = delivered(d);
    for (const ClauseResult& change : changed)
      for (ClauseResult& e : expected)
        if (e.id == change.id) e = change;
    const ProfileResult r = d.judge();
    EXPECT_EQ(r.id, "delivery-receipt-v1");
    EXPECT_EQ(r.hash, profile_table_hash(delivery_v1_table()));
    EXPECT_EQ(r.clauses, expected);
    const bool all = std::all_of(expected.begin(), expected.end(), [](const ClauseResult& e) { return e.passed; });
    EXPECT_EQ(r.status, all ? ProfileStatus::Conformant : ProfileStatus::NonConformant);
  }
}

TEST(ProfileDelivery, NothingToJudge) {
  const std::string no_claim =
      "no delivery claim: no accepted Selected selection whose used evaluations bind to requirements of exactly one "
      "request";
  struct NothingCase {
    std::string name;
    std::function<void(Delivery&)> build;
    std::string d0;      // D0's detail
    std::string others;  // the detail of D1 to D7
  };
  const NothingCase cases[] = {
      {"no selection", [](Delivery&) {}, no_claim, "no claim to evaluate"},
      {"only v1 evaluations", [](Delivery& d) { d.select({d.evaluate_v1()}); }, no_claim, "no claim to evaluate"},
      {"evaluations without requirements",
       [](Delivery& d) { d.select({d.evaluate({.evidence = {kTar}})}); }, no_claim, "no claim to evaluate"},
      {"requirements of two requests",
       [](Delivery& d) {
         const RecordId request2 = d.log.accepted("quillane.request.v1", request_json("second"));
         const RecordId speed = d.requirement(request2, "speed", true);
         d.select({d.evaluate({.requirements = {d.latency, speed}, .evidence = {kTar}})});
       },
       no_claim, "no claim to evaluate"},
      {"a selection of none",
       [](Delivery& d) { d.select({d.evaluate({.requirements = {d.latency}, .evidence = {kTar}})}, std::nullopt); },
       no_claim, "no claim to evaluate"},
      {"an Invalid receipt",
       [](Delivery& d) {
         d.deliver();
         d.edit = [](Receipt&, Report& report) { report.status = ValidationStatus::Invalid; };
       },
       "receipt is Invalid", "receipt is Invalid"},
      // A Verdict that does not decode: the state cannot be rebuilt.
      {"a state that cannot be rebuilt",
       [](Delivery& d) {
         d.deliver();
         d.edit = [](Receipt& receipt, Report&) { receipt.records[1].data = {'x'}; };
       },
       "state could not be rebuilt", "state could not be rebuilt"},
  };
  for (const NothingCase& c : cases) {
    SCOPED_TRACE(c.name);
    Delivery d;
    c.build(d);
    const ProfileResult r = d.judge();
    ASSERT_EQ(r.clauses.size(), 8u);
    EXPECT_EQ(r.clauses[0], (ClauseResult{"D0", false, c.d0}));
    for (std::size_t i = 1; i < 8; ++i)
      EXPECT_EQ(r.clauses[i], (ClauseResult{"D" + std::to_string(i), false, c.others}));
    EXPECT_EQ(r.status, ProfileStatus::NonConformant);
  }
}

}  // namespace
}  // namespace quillane
