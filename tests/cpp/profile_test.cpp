// The profile framework and the core profile.
#include <gtest/gtest.h>

#include <functional>

#include "profiles/core_v1.h"
#include "profiles/registry.h"
#include "receipt/validate.h"
#include "receipt_fixture.h"
#include "test_util.h"

namespace quillane {
namespace {

using namespace test;

const std::string kCore(kCoreV1Id);

// The sample log plus a rejected (manifest-bound but unhashed) candidate.
struct Sample {
  Receipt receipt;
  Report report;
};

Sample sample() {
  LogBuilder log;
  const SampleLine l = sample_line(log);
  CandidateData unbound = candidate(CandidateBasis::Root);
  unbound.source.binding = BindingMode::Manifest;
  EXPECT_FALSE(log.commit("quillane.candidate.v1", candidate_data_json(unbound), {cause(l.request)}).judgement.accepted());
  Sample s{receipt_of(log), {}};
  s.report = validate_with_limits(bytes_of(s.receipt), {});
  EXPECT_EQ(s.report.status, ValidationStatus::Clean);
  return s;
}

std::vector<std::string> ids(std::initializer_list<const char*> list) { return {list.begin(), list.end()}; }

TEST(ProfileTable, CoreTableAndItsHash) {
  const ProfileTable table = core_v1_table();
  EXPECT_EQ(table.id, "quillane-core-v1");
  EXPECT_EQ(table.version, 1u);
  ASSERT_EQ(table.clauses.size(), 6u);
  // SHA-256 of {"clauses":[{"id":"B1","statement":...},...],"id":"quillane-core-v1","version":1}.
  EXPECT_EQ(hex_encode(profile_table_hash(table)), "93f74fd1d55213abc7e11ad911d38522283a7f212dd955b7e2b1bd827899dc8c");
  EXPECT_EQ(profile_table(kCore), table);
  const ProfileRef ref = *profile_ref(kCore);
  EXPECT_EQ(ref.id, kCore);
  EXPECT_EQ(ref.version, 1u);
  EXPECT_EQ(ref.hash, profile_table_hash(table));
  for (const char* id : {"", "Quillane-core-v1", "quillane-core-v1 ", "quillane-core-v2"}) {
    EXPECT_FALSE(profile_table(id)) << id;
    EXPECT_FALSE(profile_ref(id)) << id;
  }
}

TEST(ProfileDeclare, WithDeclaredProfiles) {
  const Receipt plain = sample().receipt;
  const ProfileRef core = *profile_ref(kCore);
  Receipt declared = plain;
  declared.profiles = {core};
  struct Case {
    const Receipt* base;
    std::vector<std::string> ids;
    std::string error;  // empty: success
    std::vector<ProfileRef> profiles;
  };
  const Case cases[] = {
      {&plain, {}, "", {}},
      {&declared, {}, "", {core}},
      {&plain, {kCore}, "", {core}},
      {&plain, {kCore, kCore}, "profile \"quillane-core-v1\" declared more than once", {}},
      {&declared, {kCore}, "profile \"quillane-core-v1\" declared more than once", {}},
      {&plain, {kCore, "delivery\treceipt"}, "unknown profile \"delivery\\treceipt\"", {}},
      {&plain, {""}, "unknown profile \"\"", {}},
  };
  for (const Case& c : cases) {
    auto result = with_declared_profiles(*c.base, c.ids);
    if (!c.error.empty()) {
      EXPECT_EQ(error_of(result), c.error);
      continue;
    }
    ASSERT_TRUE(result.ok()) << result.error().message;
    Receipt expected = *c.base;
    expected.profiles = c.profiles;
    EXPECT_EQ(*result, expected);
  }
}

TEST(ProfileEvaluate, DeclaredAndRequested) {
  Sample s = sample();
  const ProfileRef core = *profile_ref(kCore);
  ProfileRef old_version = core;
  old_version.version = 2;
  ProfileRef wrong_hash = core;
  wrong_hash.hash[0] ^= 1;
  const ProfileRef unknown{"x", 1, core.hash};

  struct Case {
    std::vector<ProfileRef> declared;
    std::vector<std::string> requested;
    // Per result: id, status, declared, declaration_matches.
    std::vector<std::tuple<std::string, ProfileStatus, bool, std::optional<bool>>> expected;
  };
  using enum ProfileStatus;
  const Case cases[] = {
      {{core}, {}, {{kCore, Conformant, true, true}}},
      {{old_version}, {}, {{kCore, Conformant, true, false}}},
      {{wrong_hash}, {}, {{kCore, Conformant, true, false}}},
      {{unknown}, {}, {{"x", Unknown, true, std::nullopt}}},
      {{}, {kCore, kCore}, {{kCore, Conformant, false, std::nullopt}}},
      {{core}, {kCore}, {{kCore, Conformant, true, true}}},
      {{unknown}, {"", "x", kCore, ""},
       {{"x", Unknown, true, std::nullopt}, {"", Unknown, false, std::nullopt}, {kCore, Conformant, false, std::nullopt}}},
  };
  for (const Case& c : cases) {
    s.receipt.profiles = c.declared;
    const auto results = evaluate_profiles(s.receipt, s.report, c.requested);
    ASSERT_EQ(results.size(), c.expected.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
      const ProfileResult& r = results[i];
      const auto& [id, status, declared, matches] = c.expected[i];
      SCOPED_TRACE("result " + std::to_string(i) + " " + id);
      EXPECT_EQ(r.id, id);
      EXPECT_EQ(r.status, status);
      EXPECT_EQ(r.declared, declared);
      EXPECT_EQ(r.declaration_matches, matches);
      EXPECT_EQ(r.met(), status == Conformant && matches != false);
      if (status == Unknown) {
        EXPECT_TRUE(r.clauses.empty());
        EXPECT_EQ(hex_encode(r.hash), std::string(64, '0'));
      } else {
        EXPECT_EQ(r.hash, core.hash);
      }
    }
  }
}

TEST(ProfileCore, EachClausePassingAndFailing) {
  const Sample base = sample();
  const std::vector<ClauseResult> baseline = {
      {"B1", true, "status Clean"},
      {"B2", true, "4 registered author role(s)"},
      {"B3", true, "Candidate=Reported, Evaluation=Reported, Selection=Inferred"},
      {"B4", true, "max_context_records 200"},
      {"B5", true, "admin_retraction_actors [], reaffirmation_actors []"},
      {"B6", true, "candidates: 1 manifest-bound, 1 reported"},
  };
  const ProfileResult result = evaluate_core_v1(base.receipt, base.report);
  EXPECT_EQ(result.clauses, baseline);
  EXPECT_EQ(result.status, ProfileStatus::Conformant);
  EXPECT_EQ(result.id, kCore);
  EXPECT_FALSE(result.declared || result.declaration_matches);

  struct Case {
    std::function<void(Sample&)> edit;
    std::vector<ClauseResult> changed;  // clauses that differ from the baseline
  };
  auto rules = [](std::function<void(VerifierRules&)> f) { return [f](Sample& s) { f(s.receipt.rules); }; };
  const Case cases[] = {
      {[](Sample& s) { s.report.status = ValidationStatus::Tainted; }, {{"B1", true, "status Tainted"}}},
      {[](Sample& s) { s.report.status = ValidationStatus::Invalid; },
       {{"B1", false, "status Invalid"}, {"B6", true, "candidates: 0 manifest-bound, 0 reported"}}},
      {rules([](VerifierRules& r) { r.author_roles.clear(); }), {{"B2", false, "0 registered author role(s)"}}},
      {rules([](VerifierRules& r) { r.evidence_thresholds[Kind::Selection] = Evidence::Assumed; }),
       {{"B3", false, "Candidate=Reported, Evaluation=Reported, Selection=Assumed (weaker than Inferred)"}}},
      {rules([](VerifierRules& r) {
         r.evidence_thresholds[Kind::Candidate] = Evidence::Verified;
         r.evidence_thresholds[Kind::Selection] = Evidence::Deterministic;
       }),
       {{"B3", true, "Candidate=Verified, Evaluation=Reported, Selection=Deterministic"}}},
      {rules([](VerifierRules& r) {
         r.evidence_thresholds.erase(Kind::Evaluation);
         r.evidence_thresholds[Kind::Candidate] = Evidence::Inferred;
       }),
       {{"B3", false, "Candidate=Inferred (weaker than Reported), Evaluation=missing, Selection=Inferred"}}},
      {rules([](VerifierRules& r) { r.evidence_thresholds.clear(); }),
       {{"B3", false, "Candidate=missing, Evaluation=missing, Selection=missing"}}},
      {rules([](VerifierRules& r) { r.max_context_records = 0; }), {{"B4", false, "max_context_records 0"}}},
      {rules([](VerifierRules& r) { r.max_context_records = 1; }), {{"B4", true, "max_context_records 1"}}},
      {rules([](VerifierRules& r) { r.max_context_records = 100'000; }), {{"B4", true, "max_context_records 100000"}}},
      {rules([](VerifierRules& r) { r.max_context_records = 100'001; }),
       {{"B4", false, "max_context_records 100001"}}},
      {rules([](VerifierRules& r) {
         r.admin_retraction_actors = {"system", "admin"};
         r.reaffirmation_actors = {"user"};
       }),
       {{"B5", true, "admin_retraction_actors [admin, system], reaffirmation_actors [user]"}}},
      // Verdicts that do not decode: the state cannot be rebuilt, nothing is counted.
      {[](Sample& s) { s.receipt.records[1].data = {'x'}; },
       {{"B6", true, "candidates: 0 manifest-bound, 0 reported"}}},
  };
  for (const Case& c : cases) {
    Sample s = base;
    c.edit(s);
    std::vector<ClauseResult> expected = baseline;
    for (const ClauseResult& changed : c.changed)
      for (ClauseResult& e : expected)
        if (e.id == changed.id) e = changed;
    const ProfileResult r = evaluate_core_v1(s.receipt, s.report);
    EXPECT_EQ(r.clauses, expected) << c.changed.front().detail;
    const bool all = std::all_of(expected.begin(), expected.end(), [](const ClauseResult& e) { return e.passed; });
    EXPECT_EQ(r.status, all ? ProfileStatus::Conformant : ProfileStatus::NonConformant);
  }
}

TEST(ProfileCore, InvalidReceiptInReport) {
  LogBuilder log;
  sample_line(log);
  Receipt receipt = *with_declared_profiles(receipt_of(log), ids({"quillane-core-v1"}));
  receipt.records.pop_back();  // a subject without its Verdict
  const Report report = validate_with_limits(bytes_of(receipt), {});
  EXPECT_EQ(report.status, ValidationStatus::Invalid);
  ASSERT_EQ(report.profiles.size(), 1u);
  const ProfileResult& core = report.profiles[0];
  EXPECT_EQ(core.status, ProfileStatus::NonConformant);
  EXPECT_EQ(core.declaration_matches, true);
  EXPECT_EQ(core.clauses[0], (ClauseResult{"B1", false, "status Invalid"}));
  EXPECT_EQ(core.clauses[5], (ClauseResult{"B6", true, "candidates: 0 manifest-bound, 0 reported"}));
  EXPECT_NE(report_text(report).find("profile quillane-core-v1: NON-CONFORMANT (declared, declaration matches)\n"
                                     "  hash:          93f74fd1d55213abc7e11ad911d38522283a7f212dd955b7e2b1bd827899dc8c\n"
                                     "  FAIL B1: status Invalid\n"
                                     "  ok   B2: 4 registered author role(s)\n"),
            std::string::npos);
}

}  // namespace
}  // namespace quillane
