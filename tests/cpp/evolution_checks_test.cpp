// Checks of requests, requirements, candidates, evaluations and selections.
#include <gtest/gtest.h>

#include "evolution_builders.h"
#include "log_fixture.h"
#include "record/identity.h"
#include "record/signing.h"
#include "state/approval_digests.h"

namespace quillane {
namespace {

using namespace test;

// A request, a root candidate under it, a passing evaluation of it, and a
// selection choosing it.
struct Line {
  RecordId request, root, eval, selection;
};

Line basic_line(LogBuilder& log) {
  Line l;
  l.request = log.accepted("quillane.request.v1", request_json());
  l.root = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(l.request)});
  l.eval = log.accepted("quillane.evaluation.v1", evaluation_json(l.root), {use(l.root)}, "provider");
  l.selection = log.accepted("quillane.selection.v1", selection_json({l.root}, std::vector<Digest>{l.root}),
                             {use(l.eval), require(l.root)});
  return l;
}

std::string judge(LogBuilder& log, std::string_view schema, const Json& payload, std::vector<Ref> refs,
                  std::string author = "") {
  return judgement_name(log.judge(log.finish(log.pending(schema, payload, std::move(refs), std::move(author)))));
}

TEST(EvolutionRequest, ParentsAndCauses) {
  LogBuilder log;
  const RecordId parent = log.accepted("quillane.request.v1", request_json());
  const RecordId candidate = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(parent)});
  const RecordId rejected = log.commit("quillane.request.v1", request_json("orphan", sha256_utf8("x"))).id;
  struct Case {
    std::optional<Digest> parent;
    std::vector<Ref> refs;
    const char* expected;
  };
  const Case cases[] = {
      {std::nullopt, {}, "Accept"},
      {parent, {cause(parent)}, "Accept"},
      {parent, {}, "InvalidPayload"},
      {std::nullopt, {cause(parent)}, "InvalidPayload"},
      {candidate, {cause(candidate)}, "InvalidPayload"},
      {rejected, {cause(rejected)}, "RequestMissing"},
  };
  for (const auto& c : cases) EXPECT_EQ(judge(log, "quillane.request.v1", request_json("sub", c.parent), c.refs), c.expected);
}

TEST(EvolutionRequirement, KeysRolesAndRequest) {
  LogBuilder log;
  const RecordId request = log.accepted("quillane.request.v1", request_json());
  const RecordId first = log.accepted("quillane.requirement.v1", requirement_json("latency"), {cause(request)});
  struct Case {
    Json payload;
    std::vector<Ref> refs;
    std::string author;
    const char* expected;
  };
  RequirementData blank;
  blank.key = "";
  blank.description = "x";
  const Case cases[] = {
      {requirement_json("memory"), {cause(request)}, "user", "Accept"},
      {requirement_json("latency"), {cause(request)}, "user", "RequirementInvalid"},
      {requirement_data_json(blank), {cause(request)}, "user", "RequirementInvalid"},
      {requirement_json("memory", Provenance::Derived), {cause(request)}, "user", "AuthorRoleInvalid"},
      {requirement_json("memory", Provenance::Derived), {cause(request)}, "provider", "Accept"},
      {requirement_json("memory", Provenance::UserAuthored), {cause(request)}, "system", "AuthorRoleInvalid"},
      {requirement_json("memory"), {}, "user", "RequirementInvalid"},
      {requirement_json("memory"), {cause(first)}, "user", "RequirementInvalid"},
  };
  for (const auto& c : cases) EXPECT_EQ(judge(log, "quillane.requirement.v1", c.payload, c.refs, c.author), c.expected);

  // Retracting the first requirement frees its key.
  log.accepted("quillane.retraction.v1", retraction_json(first), {cause(first)});
  EXPECT_FALSE(log.state().requirement_keys.contains(request));
  EXPECT_EQ(judge(log, "quillane.requirement.v1", requirement_json("latency"), {cause(request)}), "Accept");
}

TEST(EvolutionCandidate, SourceBinding) {
  LogBuilder log;
  struct Case {
    std::function<void(CandidateData&)> edit;
    const char* expected;
  };
  const Case cases[] = {
      {[](CandidateData&) {}, "Accept"},
      {[](CandidateData& c) { c.source.git.tree = std::string(64, 'a'); }, "SourceBindingInvalid"},
      {[](CandidateData& c) {
         c.source.git.algo = SourceAlgo::Sha256;
         c.source.git.tree = std::string(64, 'b');
       },
       "Accept"},
      {[](CandidateData& c) { c.source.git.tree[3] = 'A'; }, "SourceBindingInvalid"},
      {[](CandidateData& c) { c.source.git.commit = std::string(39, 'c'); }, "SourceBindingInvalid"},
      {[](CandidateData& c) { c.source.git.commit = std::string(40, 'C'); }, "SourceBindingInvalid"},
      {[](CandidateData& c) { c.source.binding = BindingMode::Manifest; }, "SourceBindingInvalid"},
      {[](CandidateData& c) { c.source.manifest_hash = Digest{}; }, "SourceBindingInvalid"},
      {[](CandidateData& c) {
         c.source.manifest_hash = Digest{};
         c.source.binding = BindingMode::Manifest;
       },
       "Accept"},
      {[](CandidateData& c) { c.artifacts = std::vector<ArtifactRef>{{"Git", std::string(40, 'a'), std::nullopt}}; },
       "ArtifactRefInvalid"},
      {[](CandidateData& c) { c.parent = sha256_utf8("missing"); }, "PayloadRefUnresolved"},
  };
  for (const auto& c : cases) {
    CandidateData data = candidate(CandidateBasis::Root);
    c.edit(data);
    EXPECT_EQ(judge(log, "quillane.candidate.v1", candidate_data_json(data), {}), c.expected);
  }
}

TEST(EvolutionCandidate, Lineage) {
  LogBuilder log;
  const Line l = basic_line(log);
  const RecordId none = log.accepted("quillane.selection.v1", selection_json({l.root}, std::nullopt, "nothing"), {});
  const RecordId other = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root));
  struct Case {
    Json payload;
    std::vector<Ref> refs;
    const char* expected;
  };
  const Case cases[] = {
      {candidate_json(CandidateBasis::Root), {}, "Accept"},
      {candidate_json(CandidateBasis::Root), {cause(l.request), cause(l.selection)}, "LineageInvalid"},
      {candidate_json(CandidateBasis::Root, l.root), {}, "LineageInvalid"},
      {candidate_json(CandidateBasis::Root), {cause(l.root)}, "LineageInvalid"},
      {candidate_json(CandidateBasis::Continuation, l.root), {cause(l.selection)}, "Accept"},
      {candidate_json(CandidateBasis::Continuation, other), {cause(l.selection)}, "LineageInvalid"},
      {candidate_json(CandidateBasis::Continuation, l.root), {cause(none)}, "LineageInvalid"},
      {candidate_json(CandidateBasis::Continuation), {cause(l.selection)}, "LineageInvalid"},
      {candidate_json(CandidateBasis::Continuation, l.root), {}, "LineageInvalid"},
      {candidate_json(CandidateBasis::Derivation), {cause(l.root), cause(l.eval)}, "Accept"},
      {candidate_json(CandidateBasis::Derivation), {cause(l.selection)}, "LineageInvalid"},
      {candidate_json(CandidateBasis::Derivation), {}, "LineageInvalid"},
      {candidate_json(CandidateBasis::Derivation, l.root), {cause(l.root)}, "LineageInvalid"},
      {candidate_json(CandidateBasis::Derivation), {cause(sha256_utf8("ghost"))}, "RefUnresolved"},
  };
  for (const auto& c : cases) EXPECT_EQ(judge(log, "quillane.candidate.v1", c.payload, c.refs), c.expected);
}

TEST(EvolutionCandidate, CompromisedContinuation) {
  for (bool reject : {false, true}) {
    VerifierRules rules = test_rules();
    rules.reject_compromised_continuation = reject;
    LogBuilder log(rules);
    const Line l = basic_line(log);
    log.accepted("quillane.retraction.v1", retraction_json(l.eval), {cause(l.eval)}, "provider");
    ASSERT_TRUE(log.state().tainted_records.contains(l.selection));
    EXPECT_EQ(judge(log, "quillane.candidate.v1", candidate_json(CandidateBasis::Continuation, l.root),
                    {cause(l.selection)}),
              reject ? "LineageInvalid" : "Accept");
  }
}

TEST(EvolutionEvaluation, ShapesAndReferences) {
  LogBuilder log;
  const RecordId request = log.accepted("quillane.request.v1", request_json());
  const RecordId root = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(request)});
  const RecordId req_a = log.accepted("quillane.requirement.v1", requirement_json("a"), {cause(request)});
  const RecordId req_b = log.accepted("quillane.requirement.v1", requirement_json("b"), {cause(request)});
  const RecordId low = std::min(req_a, req_b), high = std::max(req_a, req_b);

  EXPECT_EQ(judge(log, "quillane.evaluation.v1", evaluation_json(root), {use(root)}), "Accept");
  EXPECT_EQ(judge(log, "quillane.evaluation.v1", evaluation_json(root), {cause(root)}), "EvaluationInvalid");
  EXPECT_EQ(judge(log, "quillane.evaluation.v1", evaluation_json(request), {use(request)}), "PayloadRefUnresolved");

  struct Case {
    std::function<void(EvaluationDataV2&)> edit;
    std::vector<Ref> refs;
    const char* expected;
  };
  const Case cases[] = {
      {[](EvaluationDataV2&) {}, {use(root)}, "Accept"},
      {[&](EvaluationDataV2& e) { e.requirements = {low, high}; }, {use(root), use(low), use(high)}, "Accept"},
      {[&](EvaluationDataV2& e) { e.requirements = {high, low}; }, {use(root), use(low), use(high)}, "EvaluationInvalid"},
      {[&](EvaluationDataV2& e) { e.requirements = {low}; }, {use(root)}, "EvaluationInvalid"},
      {[&](EvaluationDataV2& e) { e.requirements = {root}; }, {use(root)}, "EvaluationInvalid"},
      {[](EvaluationDataV2& e) { e.evaluator.id = ""; }, {use(root)}, "EvaluationInvalid"},
      {[](EvaluationDataV2& e) { e.evidence = {{"sha256-bytes", "ab", std::nullopt}}; }, {use(root)}, "ArtifactRefInvalid"},
      {[](EvaluationDataV2&) {}, {}, "EvaluationInvalid"},
  };
  for (const auto& c : cases) {
    EvaluationDataV2 e = evaluation_v2(root);
    c.edit(e);
    EXPECT_EQ(judge(log, "quillane.evaluation.v2", evaluation_data_v2_json(e), c.refs), c.expected);
  }

  // Attested: signed by an author whose keys are pinned.
  std::array<std::uint8_t, 32> seed;
  seed.fill(4);
  const auto signer = Ed25519Signer::from_secret_bytes(seed);
  const Json attested = evaluation_data_v2_json(evaluation_v2(root));
  const PendingRecord p = log.pending("quillane.evaluation.attested.v1", attested, {use(root)}, "system");
  EXPECT_EQ(judgement_name(log.judge(log.finish(p))), "SignatureMissing");
  EXPECT_EQ(judgement_name(log.judge(log.finish(p, &signer))), "SignatureInvalid");
  log.rules.author_keys["system"] = {signer.public_key()};
  const Record signed_attested = log.finish(p, &signer);
  EXPECT_EQ(signed_attested.evidence, Evidence::Reported);  // Verified base, rests on a Reported candidate
  EXPECT_EQ(judgement_name(log.judge(signed_attested)), "Accept");
}

TEST(EvolutionEvaluation, RetractedCandidateStillJudgedButTainted) {
  LogBuilder log;
  const RecordId root = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root));
  log.accepted("quillane.retraction.v1", retraction_json(root), {cause(root)}, "provider");
  // Acceptance, not liveness, is what the evaluation needs; its evidence
  // falls to Assumed, below the Reported threshold.
  EXPECT_EQ(judge(log, "quillane.evaluation.v1", evaluation_json(root), {use(root)}), "EvidenceBelowThreshold");
  log.rules.evidence_thresholds.clear();
  const RecordId eval = log.accepted("quillane.evaluation.v1", evaluation_json(root), {use(root)});
  EXPECT_TRUE(log.state().tainted_records.contains(eval));
  EXPECT_FALSE(log.state().tainted_records.contains(root));
  EXPECT_TRUE(log.state().retracted_records.contains(root));
}

TEST(EvolutionSelection, ConsideredChosenAndEvaluations) {
  VerifierRules rules = test_rules();
  rules.max_considered = 2;
  LogBuilder log(rules);
  const Line l = basic_line(log);
  const RecordId second = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root));
  const RecordId third = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root));
  const RecordId eval2 = log.accepted("quillane.evaluation.v1", evaluation_json(second), {use(second)});
  using V = std::vector<Digest>;
  struct Case {
    Json payload;
    std::vector<Ref> refs;
    const char* expected;
  };
  const Case cases[] = {
      {selection_json({l.root, second}, V{second}), {use(eval2), require(second)}, "Accept"},
      {selection_json({}, std::nullopt), {}, "SelectionInvalid"},
      {selection_json({l.root, second, third}, V{second}), {use(eval2), require(second)}, "SelectionInvalid"},
      {selection_json({second, second}, V{second}), {use(eval2), require(second)}, "SelectionInvalid"},
      {selection_json({l.request}, std::nullopt), {}, "PayloadRefUnresolved"},
      {selection_json({second}, V{second}), {use(l.eval), require(second)}, "SelectionInvalid"},
      {selection_json({l.root, second}, V{second}), {require(second)}, "SelectionInvalid"},
      {selection_json({l.root, second}, V{}), {use(eval2)}, "SelectionInvalid"},
      {selection_json({l.root, second}, V{second, second}), {use(eval2), require(second)}, "SelectionInvalid"},
      {selection_json({l.root}, V{second}), {use(l.eval), require(second)}, "SelectionInvalid"},
      {selection_json({l.root, second}, V{second}), {use(eval2), require(second), require(l.root)}, "SelectionInvalid"},
      {selection_json({l.root, second}, std::nullopt), {}, "Accept"},
      {selection_json({l.root, second}, std::nullopt), {require(second)}, "SelectionInvalid"},
  };
  for (const auto& c : cases) EXPECT_EQ(judge(log, "quillane.selection.v1", c.payload, c.refs), c.expected);

  log.rules.selection_requires_evaluation = false;
  EXPECT_EQ(judge(log, "quillane.selection.v1", selection_json({second}, V{second}), {require(second)}), "Accept");
  log.rules.min_binding = BindingMode::Manifest;
  EXPECT_EQ(judge(log, "quillane.selection.v1", selection_json({second}, V{second}), {require(second)}),
            "SelectionInvalid");
}

TEST(EvolutionSelection, Reaffirmation) {
  VerifierRules rules = test_rules();
  LogBuilder log(rules);
  const Line l = basic_line(log);
  const Json same = selection_json({l.root}, std::vector<Digest>{l.root});
  const Json other = selection_json({l.root}, std::vector<Digest>{l.root}, "another objective");
  EXPECT_EQ(judge(log, "quillane.selection.v1", same, {use(l.eval), require(l.root), replace(l.selection)}), "Accept");
  EXPECT_EQ(judge(log, "quillane.selection.v1", other, {use(l.eval), require(l.root), replace(l.selection)}),
            "ReaffirmationInvalid");
  log.rules.reaffirmation_actors = {"system"};
  EXPECT_EQ(judge(log, "quillane.selection.v1", same, {use(l.eval), require(l.root), replace(l.selection)}),
            "ReaffirmationInvalid");
  EXPECT_EQ(judge(log, "quillane.selection.v1", same, {use(l.eval), require(l.root), replace(l.selection)}, "system"),
            "Accept");
}

TEST(EvolutionSelection, Approval) {
  VerifierRules rules = test_rules();
  rules.selection_requires_approval = true;
  LogBuilder log(rules);
  const RecordId root = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root));
  const RecordId eval = log.accepted("quillane.evaluation.v1", evaluation_json(root), {use(root)});
  const Json payload = selection_json({root}, std::vector<Digest>{root});
  EXPECT_EQ(judge(log, "quillane.selection.v1", payload, {use(eval), require(root)}), "ApprovalMissing");

  const Bytes bytes = canonical_bytes(payload);
  const SelectionData data = *decode_selection_data(std::string(bytes.begin(), bytes.end()));
  const Digest digest = *selection_approval_digest("provider", std::nullopt, data);
  auto approve = [&](std::optional<std::uint64_t> expiry, std::optional<std::string> actor) {
    ApprovalData a;
    a.target_action = digest;
    a.scope = test_space();
    a.actor_id = std::move(actor);
    a.expiry = expiry;
    return log.accepted("quillane.approval.v1", approval_data_json(a));
  };
  const RecordId wrong_actor = approve(std::nullopt, "system");
  EXPECT_EQ(judge(log, "quillane.selection.v1", payload, {use(eval), require(root), require(wrong_actor)}),
            "ApprovalMissing");
  // The Selection will be judged at the next time; an expiry equal to it has passed.
  const RecordId expiring = approve(log.next_time() + 2, "provider");
  EXPECT_EQ(judge(log, "quillane.selection.v1", payload, {use(eval), require(root), require(expiring)}),
            "ApprovalExpired");
  const RecordId good = approve(std::nullopt, "provider");
  EXPECT_EQ(judge(log, "quillane.selection.v1", payload, {use(eval), require(root)}), "ApprovalMissing");
  log.accepted("quillane.selection.v1", payload, {use(eval), require(root), require(good)});
  // The approval is consumed.
  EXPECT_FALSE(log.state().valid_approvals.contains(digest));
  EXPECT_EQ(judge(log, "quillane.selection.v1", payload, {use(eval), require(root), require(good)}), "ApprovalMissing");
}

}  // namespace
}  // namespace quillane
