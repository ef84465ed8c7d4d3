#include <gtest/gtest.h>


#include "base/jcs_writer.h"
#include "evolution_builders.h"
#include "log_fixture.h"
#include "verify/standing.h"
#include "verify/verifier/replay.h"

namespace quillane::test {
namespace {

// A log of evolution records; "user" may retract anyone's record.
class Evolution {
 public:
  Evolution() : b(admin_rules()) { request = b.accepted("quillane.request.v1", request_json()); }

  RecordId root(std::vector<Ref> extra = {}) {
    extra.push_back(cause(request));
    return b.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), std::move(extra));
  }
  RecordId continuation(const RecordId& selection, const RecordId& parent) {
    return b.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Continuation, parent),
                      {cause(selection)});
  }
  RecordId derivation(const std::vector<RecordId>& from) {
    std::vector<Ref> refs;
    for (const RecordId& id : from) refs.push_back(cause(id));
    return b.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Derivation), std::move(refs));
  }
  RecordId evaluate(const RecordId& candidate) {
    return b.accepted("quillane.evaluation.v1", evaluation_json(candidate), {use(candidate)});
  }
  // Chooses `chosen` among `considered` (default: the chosen ones), resting
  // on `evaluations`; reaffirms `replaces` when given.
  RecordId select(const std::vector<RecordId>& chosen, const std::vector<RecordId>& evaluations,
                  std::vector<RecordId> considered = {}, std::optional<RecordId> replaces = std::nullopt) {
    if (considered.empty()) considered = chosen;
    std::vector<Ref> refs;
    for (const RecordId& e : evaluations) refs.push_back(use(e));
    for (const RecordId& c : chosen) refs.push_back(require(c));
    if (replaces) refs.push_back(replace(*replaces));
    return b.accepted("quillane.selection.v1", selection_json(considered, chosen), std::move(refs));
  }
  void retract(const RecordId& target) {
    b.accepted("quillane.retraction.v1", retraction_json(target), {cause(target)}, "user");
  }

  // The standing section that replaying the whole log reports.
  StandingSection standing() const {
    const std::vector<Record> records = b.records();
    const LogVerdict verdict = verify_log(records, b.rules);
    EXPECT_FALSE(verdict.invalid) << (verdict.reason ? name_of(*verdict.reason) : "");
    EXPECT_EQ(verdict.standing, derive_standing(records, b.state()));
    return verdict.standing;
  }

  LogBuilder b;
  RecordId request{};

 private:
  static VerifierRules admin_rules() {
    VerifierRules rules = test_rules();
    rules.admin_retraction_actors = {"user"};
    return rules;
  }
};

// Root c0 chosen by s1 on evaluation e0; c1 continues from s1, c2 from s2
// (which chose c1); d derives from c0 and c1, and de from c0 and the
// evaluation e1 (which is no candidate and so no part of its descent).
struct Line {
  RecordId c0, e0, s1, c1, e1, s2, c2, d, de;
};

Line build_line(Evolution& log) {
  Line l;
  l.c0 = log.root();
  l.e0 = log.evaluate(l.c0);
  l.s1 = log.select({l.c0}, {l.e0});
  l.c1 = log.continuation(l.s1, l.c0);
  l.e1 = log.evaluate(l.c1);
  l.s2 = log.select({l.c1}, {l.e1});
  l.c2 = log.continuation(l.s2, l.c1);
  l.d = log.derivation({l.c0, l.c1});
  l.de = log.derivation({l.c0, l.e1});
  return l;
}

TEST(Standing, EmptyWithoutRetractions) {
  Evolution log;
  build_line(log);
  EXPECT_EQ(log.standing(), StandingSection{});
}

TEST(Standing, TaintedSelectionCompromisesItsLine) {
  Evolution log;
  const Line l = build_line(log);
  log.retract(l.e0);
  EXPECT_EQ(log.standing(), (StandingSection{{l.c1, l.c2, l.d}, {l.s1}, {}}));
}

TEST(Standing, CleanReaffirmationRestoresTheContinuation) {
  Evolution log;
  const Line l = build_line(log);
  log.retract(l.e0);
  const RecordId again = log.select({l.c0}, {log.evaluate(l.c0)}, {}, l.s1);
  EXPECT_EQ(log.standing(), (StandingSection{{}, {l.s1}, {{l.s1, {again}}}}));
}

TEST(Standing, ReaffirmationOfAnotherCandidateRestoresOnlyItsChoice) {
  Evolution log;
  const RecordId c0 = log.root(), cx = log.root();
  const RecordId e0 = log.evaluate(c0), ex = log.evaluate(cx);
  const RecordId s1 = log.select({c0}, {e0, ex}, {c0, cx});
  const RecordId c1 = log.continuation(s1, c0);
  log.retract(e0);
  const RecordId again = log.select({cx}, {ex}, {c0, cx}, s1);
  EXPECT_EQ(log.standing(), (StandingSection{{c1}, {s1}, {{s1, {again}}}}));
}

TEST(Standing, TaintedReaffirmationRestoresNothing) {
  Evolution log;
  const Line l = build_line(log);
  log.retract(l.e0);
  const RecordId e = log.evaluate(l.c0);
  const RecordId again = log.select({l.c0}, {e}, {}, l.s1);
  log.retract(e);
  EXPECT_EQ(log.standing(), (StandingSection{{l.c1, l.c2, l.d}, {l.s1, again}, {}}));
}

TEST(Standing, CleanReaffirmationRestoresItsWholeChain) {
  Evolution log;
  const Line l = build_line(log);
  log.retract(l.e0);
  const RecordId e = log.evaluate(l.c0);
  const RecordId tainted = log.select({l.c0}, {e}, {}, l.s1);
  log.retract(e);
  const RecordId clean = log.select({l.c0}, {log.evaluate(l.c0)}, {}, tainted);
  EXPECT_EQ(log.standing(), (StandingSection{{}, {l.s1, tainted}, {{l.s1, {clean}}, {tainted, {clean}}}}));
}

TEST(Standing, TaintedRootStaysSoundRetractedRootDoesNot) {
  Evolution log;
  const RecordId victim = log.b.accepted("quillane.request.v1", request_json("victim"));
  const RecordId tainted_root = log.root({use(victim)});
  const RecordId retracted_root = log.root();
  const RecordId s = log.select({retracted_root}, {log.evaluate(retracted_root)});
  const RecordId continued = log.continuation(s, retracted_root);
  const RecordId derived = log.derivation({retracted_root, tainted_root});
  log.retract(victim);
  log.retract(retracted_root);
  ASSERT_TRUE(log.b.state().tainted_records.contains(tainted_root));
  EXPECT_EQ(log.standing(), (StandingSection{{retracted_root, continued, derived}, {s}, {}}));
}

// A hostile line of descent far longer than any call stack could follow:
// every candidate continues from the one before it. Ids descend along the
// line, so the walk starts at its far end.
TEST(Standing, LongContinuationChainNeedsNoDeepRecursion) {
  constexpr std::uint32_t kLength = 100'000;
  constexpr std::uint32_t kRetracted = kLength / 2;
  auto id_of = [](std::uint32_t i) {
    Digest id{};
    const std::uint32_t key = kLength - i;
    for (int byte = 0; byte < 4; ++byte) id[byte] = static_cast<std::uint8_t>(key >> (8 * (3 - byte)));
    return id;
  };
  const RecordId selection = sha256_utf8("a selection outside the log");
  std::vector<Record> records(kLength);
  State state;
  for (std::uint32_t i = 0; i < kLength; ++i) {
    Record& r = records[i];
    r.id = id_of(i);
    r.kind = Kind::Candidate;
    const Json payload = i == 0 ? candidate_json(CandidateBasis::Root)
                                : candidate_json(CandidateBasis::Continuation, id_of(i - 1));
    const std::string bytes = canonical_json(payload).value();
    r.data.assign(bytes.begin(), bytes.end());
    if (i > 0) r.refs = {cause(selection)};
    state.accepted_records.insert(r.id);
  }
  state.retracted_records.insert(id_of(kRetracted));

  const StandingSection standing = derive_standing(records, state);

  std::set<RecordId> expected;
  for (std::uint32_t i = kRetracted; i < kLength; ++i) expected.insert(id_of(i));
  EXPECT_EQ(standing.compromised, expected);
  EXPECT_TRUE(standing.unsound.empty());
}

}  // namespace
}  // namespace quillane::test

namespace quillane {
namespace {

// A long chain of clean reaffirmations under one unsound Selection: the
// restorers are found in one walk down the chain, not one walk up per link.
TEST(StandingLongChains, ReaffirmationChainIsLinear) {
  using namespace test;
  VerifierRules rules = test_rules();
  rules.selection_requires_evaluation = false;
  rules.admin_retraction_actors = {"user"};
  LogBuilder log(rules);
  const RecordId c = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root));
  const Json payload = selection_json({c}, std::vector<Digest>{c});
  RecordId previous = log.accepted("quillane.selection.v1", payload, {require(c)});
  const RecordId first = previous;
  log.accepted("quillane.retraction.v1", retraction_json(first), {cause(first)});
  const int n = 6000;
  for (int i = 0; i < n; ++i)
    previous = log.accepted("quillane.selection.v1", payload, {require(c), replace(previous)});
  const auto records = log.records();
  const StandingSection s = derive_standing(records, log.state());
  EXPECT_EQ(s.unsound, std::set<RecordId>{first});
  EXPECT_EQ(s.restorations.at(first).size(), static_cast<std::size_t>(n));
}

}  // namespace
}  // namespace quillane
