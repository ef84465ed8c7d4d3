// The named queries over small in-memory logs.
#include <gtest/gtest.h>

#include <random>

#include "base/jcs_writer.h"
#include "evolution_builders.h"
#include "log_fixture.h"
#include "queries/named_queries.h"

namespace quillane {
namespace {

using namespace test;

// A log with one request, roots a and b, a selection choosing a, two
// continuations of a from that selection, and a derivation from both.
struct Graph {
  LogBuilder log;
  RecordId request, a, b, eval_a, eval_b, sel, cont1, cont2, deriv;
  std::vector<Record> records;
};

std::unique_ptr<Graph> build_graph() {
  auto g = std::make_unique<Graph>();
  LogBuilder& log = g->log;
  g->request = log.accepted("quillane.request.v1", request_json());
  g->a = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(g->request)});
  g->b = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(g->request)});
  g->eval_a = log.accepted("quillane.evaluation.v1", evaluation_json(g->a, true, "unit"), {use(g->a)});
  g->eval_b = log.accepted("quillane.evaluation.v1", evaluation_json(g->b, false, "lint"), {use(g->b)});
  g->sel = log.accepted("quillane.selection.v1", selection_json({g->a, g->b}, std::vector<Digest>{g->a}),
                        {use(g->eval_a), use(g->eval_b), require(g->a)});
  g->cont1 = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Continuation, g->a), {cause(g->sel)});
  g->cont2 = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Continuation, g->a), {cause(g->sel)});
  g->deriv = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Derivation),
                          {cause(g->cont1), cause(g->b)});
  g->records = log.records();
  return g;
}

Queries make_queries(const Graph& g) {
  auto q = Queries::make(g.records, g.log.rules);
  EXPECT_TRUE(std::holds_alternative<Queries>(q));
  return std::get<Queries>(std::move(q));
}

template <typename T>
std::string error_text(const QueryResult<T>& r) {
  return std::holds_alternative<QueryError>(r) ? std::get<QueryError>(r).message() : "<ok>";
}

std::vector<RecordId> ids(const std::vector<Node>& nodes) {
  std::vector<RecordId> out;
  for (const auto& n : nodes) out.push_back(n.id);
  return out;
}

TEST(Queries, DescentIsBreadthFirstWithAnchorsFirst) {
  auto g = build_graph();
  const Queries q = make_queries(*g);
  auto root = std::get<DescentReport>(descent(q, g->a));
  EXPECT_TRUE(root.line.empty());

  auto d = std::get<DescentReport>(descent(q, g->deriv));
  std::vector<std::pair<RecordId, std::string>> steps;
  for (const auto& s : d.line) steps.emplace_back(s.node.id, s.via);
  const RecordId first = std::min(g->cont1, g->b), second = std::max(g->cont1, g->b);
  // Derivation sources in ascending id order, then cont1's anchor and
  // parent; `a` is reached once although two paths lead to it.
  std::vector<std::pair<RecordId, std::string>> expected = {{first, "derivation"}, {second, "derivation"},
                                                            {g->sel, "continuation-anchor"}, {g->a, "parent"}};
  EXPECT_EQ(steps, expected);
  EXPECT_EQ(error_text(descent(q, g->sel)), "record " + hex_encode(g->sel) + " is not a Candidate");
}

TEST(Queries, ResolutionErrorsInOrder) {
  auto g = build_graph();
  const RecordId rejected = g->log.commit("quillane.candidate.v1", candidate_json(CandidateBasis::Continuation)).id;
  g->records = g->log.records();
  const Queries q = make_queries(*g);
  const RecordId missing = sha256_utf8("missing");
  EXPECT_EQ(error_text(standing(q, missing)), "record " + hex_encode(missing) + " not found");
  EXPECT_EQ(error_text(descent(q, rejected)), "record " + hex_encode(rejected) + " was rejected at commit");
  EXPECT_EQ(error_text(evidence(q, g->request)), "record " + hex_encode(g->request) + " is not a Candidate or Selection");
  EXPECT_EQ(error_text(siblings(q, g->eval_a)), "record " + hex_encode(g->eval_a) + " is not a Candidate");

  // A log that no longer verifies fails whatever is asked.
  auto records = g->records;
  std::reverse(records.begin(), records.end());
  auto broken = Queries::make(records, g->log.rules);
  ASSERT_TRUE(std::holds_alternative<QueryError>(broken));
  EXPECT_EQ(std::get<QueryError>(broken).message(), "log does not verify: Some(InvalidPayload)");
}

TEST(Queries, DescendantsSiblingsAndFrontier) {
  auto g = build_graph();
  const Queries q = make_queries(*g);
  EXPECT_EQ(ids(std::get<DescendantsReport>(descendants(q, g->sel)).descendants),
            (std::vector<RecordId>{g->cont1, g->cont2, g->deriv}));
  EXPECT_EQ(ids(std::get<DescendantsReport>(descendants(q, g->b)).descendants), std::vector<RecordId>{g->deriv});

  EXPECT_TRUE(std::get<SiblingsReport>(siblings(q, g->a)).siblings.empty());
  EXPECT_EQ(ids(std::get<SiblingsReport>(siblings(q, g->cont1)).siblings), std::vector<RecordId>{g->cont2});
  EXPECT_TRUE(std::get<SiblingsReport>(siblings(q, g->deriv)).siblings.empty());

  std::vector<std::pair<RecordId, std::string>> front;
  for (const auto& e : frontier(q).frontier) front.emplace_back(e.node.id, e.reason);
  // a was chosen and continued; b considered, not chosen.
  EXPECT_EQ(front, (std::vector<std::pair<RecordId, std::string>>{
                       {g->cont1, "unconsidered"}, {g->cont2, "unconsidered"}, {g->deriv, "unconsidered"}}));

  LogBuilder fresh;
  const RecordId lone = fresh.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root));
  auto records = fresh.records();
  auto only = std::get<Queries>(Queries::make(records, fresh.rules));
  EXPECT_EQ(frontier(only).frontier.at(0).reason, "unconsidered");
  const RecordId ev = fresh.accepted("quillane.evaluation.v1", evaluation_json(lone), {use(lone)});
  fresh.accepted("quillane.selection.v1", selection_json({lone}, std::vector<Digest>{lone}), {use(ev), require(lone)});
  records = fresh.records();
  auto chosen = std::get<Queries>(Queries::make(records, fresh.rules));
  EXPECT_EQ(frontier(chosen).frontier.at(0).reason, "selected-no-continuation");
}

TEST(Queries, EvidenceSelectedAndJson) {
  auto g = build_graph();
  const Queries q = make_queries(*g);
  auto ev = std::get<EvidenceReport>(evidence(q, g->deriv));
  ASSERT_EQ(ev.rests_on.size(), 1u);
  EXPECT_EQ(ev.rests_on[0].selection.id, g->sel);
  ASSERT_EQ(ev.rests_on[0].evidence.size(), 2u);
  // In the Selection's reference order, which is by id.
  const auto& entries = ev.rests_on[0].evidence;
  const bool a_first = g->eval_a < g->eval_b;
  EXPECT_EQ(entries[a_first ? 0 : 1].criterion, "unit");
  EXPECT_EQ(entries[a_first ? 1 : 0].outcome, "failed");
  EXPECT_EQ(entries[a_first ? 1 : 0].node.id, g->eval_b);

  auto sel = selected(q, "pick the best");
  ASSERT_EQ(sel.selections.size(), 1u);
  EXPECT_EQ(ids(sel.selections[0].chosen), std::vector<RecordId>{g->a});
  EXPECT_TRUE(selected(q, "Pick the best").selections.empty());

  const std::string text = *canonical_json(report_json(std::get<StandingReport>(standing(q, g->a))));
  EXPECT_EQ(text, "{\"node\":{\"id\":\"" + hex_encode(g->a) +
                      "\",\"kind\":\"Candidate\",\"retracted\":false,\"standing\":\"sound\",\"tainted\":false},"
                      "\"restorations\":[]}");
}

TEST(Queries, LongLinesDoNotRecurse) {
  LogBuilder log;
  RecordId parent = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root));
  const RecordId first = parent;
  log.rules.evidence_thresholds.clear();
  for (int i = 0; i < 3000; ++i)
    parent = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Derivation), {cause(parent)});
  const auto records = log.records();
  const Queries q = std::get<Queries>(Queries::make(records, log.rules));
  EXPECT_EQ(std::get<DescentReport>(descent(q, parent)).line.size(), 3000u);
  EXPECT_EQ(std::get<DescendantsReport>(descendants(q, first)).descendants.size(), 3000u);
}

// The reverse walk of `descendants` agrees with one descent per candidate on
// random graphs of roots, selections, continuations and derivations.
TEST(Queries, DescendantsWalkMatchesLiteralDefinition) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    LogBuilder log;
    log.rules.selection_requires_evaluation = false;
    std::vector<RecordId> candidates, selections;
    std::map<RecordId, RecordId> chosen_by;  // selection -> the candidate it chose
    auto pick = [&](const std::vector<RecordId>& from) { return from[rng() % from.size()]; };
    for (int step = 0; step < 60; ++step) {
      const unsigned what = candidates.empty() ? 0 : rng() % 4;
      if (what == 0) {
        candidates.push_back(log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root)));
      } else if (what == 1) {
        const RecordId c = pick(candidates);
        const RecordId s = log.accepted("quillane.selection.v1", selection_json({c}, std::vector<Digest>{c}), {require(c)});
        selections.push_back(s);
        chosen_by[s] = c;
      } else if (what == 2 && !selections.empty()) {
        const RecordId s = pick(selections);
        candidates.push_back(log.accepted("quillane.candidate.v1",
                                          candidate_json(CandidateBasis::Continuation, chosen_by[s]), {cause(s)}));
      } else {
        std::vector<Ref> causes = {cause(pick(candidates)), cause(pick(candidates))};
        candidates.push_back(log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Derivation), causes));
      }
    }
    const auto records = log.records();
    const Queries q = std::get<Queries>(Queries::make(records, log.rules));
    for (const Record& r : records) {
      if (r.kind != Kind::Candidate && r.kind != Kind::Selection) continue;
      const auto fast = descendants(q, r.id), slow = descendants_by_descent(q, r.id);
      ASSERT_EQ(*canonical_json(report_json(std::get<DescendantsReport>(fast))),
                *canonical_json(report_json(std::get<DescendantsReport>(slow))))
          << "seed " << seed;
    }
  }
}

}  // namespace
}  // namespace quillane

namespace quillane {
namespace {

using namespace test;

TEST(Queries, StandingWithRestorations) {
  VerifierRules rules = test_rules();
  rules.admin_retraction_actors = {"user"};
  LogBuilder log(rules);
  const RecordId a = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root));
  const RecordId e1 = log.accepted("quillane.evaluation.v1", evaluation_json(a), {use(a)});
  const RecordId e2 = log.accepted("quillane.evaluation.v1", evaluation_json(a, true, "again"), {use(a)});
  const RecordId sel = log.accepted("quillane.selection.v1", selection_json({a}, std::vector<Digest>{a}),
                                    {use(e1), require(a)});
  const RecordId cont = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Continuation, a),
                                     {cause(sel)});
  log.accepted("quillane.retraction.v1", retraction_json(e1), {cause(e1)}, "user");
  auto records = log.records();
  {
    const Queries q = std::get<Queries>(Queries::make(records, log.rules));
    EXPECT_EQ(std::get<StandingReport>(standing(q, sel)).node.standing, "unsound");
    EXPECT_EQ(q.node(*q.find(cont)).standing, "compromised");
    EXPECT_FALSE(q.node(*q.find(cont)).tainted);  // standing and taint are reported apart
  }
  const RecordId again = log.accepted("quillane.selection.v1", selection_json({a}, std::vector<Digest>{a}),
                                      {use(e2), require(a), replace(sel)});
  records = log.records();
  const Queries q = std::get<Queries>(Queries::make(records, log.rules));
  const auto report = std::get<StandingReport>(standing(q, sel));
  EXPECT_EQ(report.restorations, std::vector<RecordId>{again});
  EXPECT_EQ(q.node(*q.find(cont)).standing, "sound");
  EXPECT_TRUE(std::get<StandingReport>(standing(q, a)).restorations.empty());

  // The writer's shortcut over its own state gives the same answers.
  const Queries direct = Queries::from_verified(records, log.state());
  for (const RecordId& id : {a, sel, cont, again})
    EXPECT_EQ(*canonical_json(report_json(std::get<StandingReport>(standing(direct, id)))),
              *canonical_json(report_json(std::get<StandingReport>(standing(q, id)))));
}

}  // namespace
}  // namespace quillane
