// The signed profile over small signed in-memory logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "profiles/core_v1.h"
#include "profiles/registry.h"
#include "profiles/signed_v1.h"
#include "receipt/validate.h"
#include "receipt_fixture.h"
#include "record/signing.h"

namespace quillane {
namespace {

using namespace test;

// Every actor's key, derived from its name.
const Ed25519Signer& signer_of(const std::string& actor) {
  static std::map<std::string, Ed25519Signer> signers;
  auto it = signers.find(actor);
  if (it == signers.end()) it = signers.emplace(actor, Ed25519Signer::from_secret_bytes(sha256_utf8(actor))).first;
  return it->second;
}

// Signatures required on every evolution kind; user, provider and executor
// pinned, system not.
VerifierRules signed_rules() {
  VerifierRules rules = test_rules();
  rules.signature_required_kinds = {Kind::Candidate, Kind::Evaluation, Kind::Selection, Kind::Retraction,
                                    Kind::Requirement};
  for (const char* actor : {"user", "provider", "executor"}) rules.author_keys[actor] = {signer_of(actor).public_key()};
  return rules;
}

// A request and its requirement, a candidate, an attested evaluation of it
// and (by select()) a Selection using that evaluation; every record signed
// by its author.
struct SignedLog {
  LogBuilder log{signed_rules()};
  RecordId request, requirement, candidate, attested;
  std::function<void(Receipt&, Report&)> edit;  // applied after validation

  SignedLog() {
    request = commit("quillane.request.v1", request_json());
    requirement = commit("quillane.requirement.v1", requirement_json("latency"), {cause(request)});
    candidate = commit("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(request)});
    attested = evaluation("quillane.evaluation.attested.v1");
  }

  // Commits signed by the author's key (`sign` false: unsigned) and returns
  // the id if the record was accepted, else nothing.
  std::optional<RecordId> try_commit(std::string_view schema, const Json& payload, std::vector<Ref> refs = {},
                                     std::string author = "", bool sign = true) {
    PendingRecord p = log.pending(schema, payload, std::move(refs), std::move(author));
    const Ed25519Signer* signer = sign ? &signer_of(p.author.id) : nullptr;
    const LogBuilder::Commit c = log.commit(std::move(p), signer);
    if (!c.judgement.accepted()) return std::nullopt;
    return c.id;
  }

  RecordId commit(std::string_view schema, const Json& payload, std::vector<Ref> refs = {}, std::string author = "") {
    auto id = try_commit(schema, payload, std::move(refs), std::move(author));
    EXPECT_TRUE(id) << schema << " rejected";
    return id.value_or(RecordId{});
  }

  RecordId evaluation(std::string_view schema) {
    EvaluationDataV2 e = evaluation_v2(candidate);
    e.requirements = {requirement};
    return commit(schema, evaluation_data_v2_json(e), {use(candidate), use(requirement)});
  }

  RecordId select(const std::vector<RecordId>& evaluations, bool choose = true) {
    std::vector<Ref> refs;
    for (const RecordId& e : evaluations) refs.push_back(use(e));
    if (choose) refs.push_back(require(candidate));
    std::optional<std::vector<Digest>> chosen;
    if (choose) chosen = std::vector<Digest>{candidate};
    return commit("quillane.selection.v1", selection_json({candidate}, chosen), refs);
  }

  ProfileResult judge() const {
    Receipt receipt = receipt_of(log);
    Report report = validate_with_limits(bytes_of(receipt), {});
    EXPECT_EQ(report.status, ValidationStatus::Clean) << report.problem.value_or("");
    if (edit) edit(receipt, report);
    return evaluate_signed_v1(receipt, report);
  }
};

const std::vector<ClauseResult> kMet = {
    {"S0", true, "quillane-core-v1: Conformant (not declared; evaluated as the fallback)"},
    {"S1", true, "signatures required for Candidate, Evaluation, Selection, Retraction, Requirement"},
    {"S2", true, "3 pinned author(s) of evolution records: [executor, provider, user]"},
    {"S3", true, "1 evaluation(s) used by selections, all attested"},
};

TEST(ProfileSigned, EachClausePassingAndFailing) {
  auto rules = [](std::function<void(VerifierRules&)> f) {
    return [f](Receipt& receipt, Report&) { f(receipt.rules); };
  };
  struct Case {
    std::string name;
    // Extends the log (and may set an edit); returns the clauses that differ from kMet.
    std::function<std::vector<ClauseResult>(SignedLog&)> run;
  };
  const Case cases[] = {
      {"a signed delivery", [](SignedLog& s) -> std::vector<ClauseResult> {
         s.select({s.attested});
         return {};
       }},
      {"no selection", [](SignedLog&) -> std::vector<ClauseResult> {
         return {{"S3", true, "0 evaluation(s) used by selections, all attested"}};
       }},
      {"an evaluation used by two selections", [](SignedLog& s) -> std::vector<ClauseResult> {
         s.select({s.attested});
         s.select({s.attested});
         return {{"S3", true, "2 evaluation(s) used by selections, all attested"}};
       }},
      {"a plain evaluation used beside the attested one", [](SignedLog& s) -> std::vector<ClauseResult> {
         const RecordId plain = s.evaluation("quillane.evaluation.v2");
         s.select({s.attested, plain});
         return {{"S3", false, "not attested: 1 of 2 used evaluation(s): [" + short_id(plain) + "]"}};
       }},
      {"a plain evaluation used by a selection of none", [](SignedLog& s) -> std::vector<ClauseResult> {
         s.select({s.attested});
         s.select({s.evaluation("quillane.evaluation.v2")}, false);
         return {};
       }},
      {"an actor without a pinned key", [](SignedLog& s) -> std::vector<ClauseResult> {
         s.commit("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(s.request)}, "system");
         s.commit("quillane.requirement.v1", requirement_json("memory", Provenance::Derived), {cause(s.request)},
                  "system");
         s.select({s.attested});
         return {{"S2", false, "unpinned: system (Candidate, Requirement)"}};
       }},
      {"a rejected record of an actor without a key", [](SignedLog& s) -> std::vector<ClauseResult> {
         EXPECT_FALSE(s.try_commit("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(s.request)},
                                   "system", false));
         s.select({s.attested});
         return {};
       }},
      {"keys unpinned", [&](SignedLog& s) -> std::vector<ClauseResult> {
         s.select({s.attested});
         s.edit = rules([](VerifierRules& r) {
           r.author_keys.erase("provider");
           r.author_keys.erase("user");
         });
         return {{"S2", false, "unpinned: provider (Candidate, Selection), user (Requirement)"}};
       }},
      {"Requirement not signed", [&](SignedLog& s) -> std::vector<ClauseResult> {
         s.select({s.attested});
         s.edit = rules([](VerifierRules& r) { r.signature_required_kinds.erase(Kind::Requirement); });
         return {{"S1", false, "signature not required for Requirement"}};
       }},
      {"no signatures required", [&](SignedLog& s) -> std::vector<ClauseResult> {
         s.select({s.attested});
         s.edit = rules([](VerifierRules& r) { r.signature_required_kinds = {Kind::Request}; });
         return {{"S1", false,
                  "signature not required for Candidate, Evaluation, Selection, Retraction, Requirement"}};
       }},
      {"the core profile declared", [](SignedLog& s) -> std::vector<ClauseResult> {
         s.select({s.attested});
         s.edit = [](Receipt& r, Report&) { r.profiles = {*profile_ref(kSignedV1Id), *profile_ref(kCoreV1Id)}; };
         return {{"S0", true, "quillane-core-v1: Conformant (declared, declaration matches)"}};
       }},
      {"the core profile declared with a wrong version", [](SignedLog& s) -> std::vector<ClauseResult> {
         s.select({s.attested});
         s.edit = [](Receipt& r, Report&) {
           ProfileRef core = *profile_ref(kCoreV1Id);
           core.version = 2;
           r.profiles = {core};
         };
         return {{"S0", false, "quillane-core-v1: Conformant (declared, DECLARATION MISMATCH)"}};
       }},
      {"the core profile not met", [&](SignedLog& s) -> std::vector<ClauseResult> {
         s.select({s.attested});
         s.edit = rules([](VerifierRules& r) { r.evidence_thresholds.clear(); });
         return {{"S0", false, "quillane-core-v1: NonConformant (not declared; evaluated as the fallback)"}};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SignedLog s;
    std::vector<ClauseResult> expected = kMet;
    for (const ClauseResult& change : c.run(s))
      for (ClauseResult& e : expected)
        if (e.id == change.id) e = change;
    const ProfileResult r = s.judge();
    EXPECT_EQ(r.id, "quillane-core-signed-v1");
    EXPECT_EQ(r.hash, profile_table_hash(signed_v1_table()));
    EXPECT_EQ(r.clauses, expected);
    const bool all = std::all_of(expected.begin(), expected.end(), [](const ClauseResult& e) { return e.passed; });
    EXPECT_EQ(r.status, all ? ProfileStatus::Conformant : ProfileStatus::NonConformant);
  }
}

TEST(ProfileSigned, NothingToJudge) {
  const std::pair<std::string, std::function<void(Receipt&, Report&)>> cases[] = {
      {"receipt is Invalid", [](Receipt&, Report& report) { report.status = ValidationStatus::Invalid; }},
      // A Verdict that does not decode.
      {"state could not be rebuilt", [](Receipt& receipt, Report&) { receipt.records[1].data = {'x'}; }},
  };
  for (const auto& [detail, edit] : cases) {
    SignedLog s;
    s.select({s.attested});
    s.edit = edit;
    const ProfileResult r = s.judge();
    EXPECT_EQ(r.clauses, (std::vector<ClauseResult>{{"S0", false, detail},
                                                    {"S1", false, detail},
                                                    {"S2", false, detail},
                                                    {"S3", false, detail}}));
    EXPECT_EQ(r.status, ProfileStatus::NonConformant);
  }
}

}  // namespace
}  // namespace quillane
