#include "queries/named_queries.h"

#include <deque>
#include <map>
#include <set>
#include <unordered_set>

namespace quillane {
namespace {

constexpr Kind kCandidateOnly[] = {Kind::Candidate};
constexpr Kind kCandidateOrSelection[] = {Kind::Candidate, Kind::Selection};

template <typename T>
const QueryError* error_of(const std::variant<T, QueryError>& v) {
  return std::get_if<QueryError>(&v);
}

std::vector<DescentEdge> edges_of(const Queries& q, const Record& candidate) {
  auto data = decode_candidate_data(candidate.payload_json());
  if (!data) return {};
  return q.back_edges(candidate, *data);
}

std::set<RecordId> cause_set(const Record& r) {
  std::set<RecordId> out;
  for (const Ref& ref : r.refs)
    if (ref.type == RefType::Cause) out.insert(ref.target);
  return out;
}

// The breadth-first line of descent of a candidate record.
QueryResult<std::vector<DescentStep>> line_of(const Queries& q, const Record& target) {
  std::unordered_set<RecordId, DigestHash> visited{target.id};
  std::deque<DescentEdge> queue;
  for (auto& e : edges_of(q, target)) queue.push_back(std::move(e));
  std::vector<DescentStep> line;
  while (!queue.empty()) {
    DescentEdge edge = std::move(queue.front());
    queue.pop_front();
    if (!visited.insert(edge.id).second) continue;
    const Record* r = q.find(edge.id);
    if (!r) return QueryError{QueryError::Case::NotFound, std::nullopt, edge.id, {}};
    line.push_back(DescentStep{q.node(*r), std::move(edge.via)});
    if (r->kind == Kind::Candidate)
      for (auto& e : edges_of(q, *r)) queue.push_back(std::move(e));
  }
  return line;
}

JsonArray nodes_json(const std::vector<Node>& nodes) {
  JsonArray out;
  out.reserve(nodes.size());
  for (const Node& n : nodes) out.push_back(node_json(n));
  return out;
}

JsonArray entries_json(const std::vector<EvidenceEntry>& entries) {
  JsonArray out;
  out.reserve(entries.size());
  for (const auto& e : entries) out.push_back(evidence_entry_json(e));
  return out;
}

Json object(std::initializer_list<std::pair<const char*, Json>> members) {
  JsonObject o;
  o.reserve(members.size());
  for (const auto& [k, v] : members) o.emplace_back(k, v);
  return Json(std::move(o));
}

}  // namespace

QueryResult<DescentReport> descent(const Queries& q, const RecordId& id) {
  auto resolved = q.resolve(id, kCandidateOnly, "Candidate");
  if (auto* e = error_of(resolved)) return *e;
  const Record& target = *std::get<const Record*>(resolved);
  auto line = line_of(q, target);
  if (auto* e = error_of(line)) return *e;
  return DescentReport{q.node(target), std::move(std::get<0>(line))};
}

QueryResult<DescendantsReport> descendants_by_descent(const Queries& q, const RecordId& id) {
  auto resolved = q.resolve(id);
  if (auto* e = error_of(resolved)) return *e;
  DescendantsReport report{q.node(*std::get<const Record*>(resolved)), {}};
  for (const Record& r : q.records()) {
    if (r.kind != Kind::Candidate || r.id == id || !q.accepted(r.id)) continue;
    auto line = line_of(q, r);
    if (auto* e = error_of(line)) return *e;
    for (const DescentStep& step : std::get<0>(line))
      if (step.node.id == id) {
        report.descendants.push_back(q.node(r));
        break;
      }
  }
  return report;
}

// A candidate's line holds the target exactly when the target is reachable
// from it along back edges through candidates; so one walk backwards from
// the target finds them all.
QueryResult<DescendantsReport> descendants(const Queries& q, const RecordId& id) {
  auto resolved = q.resolve(id);
  if (auto* e = error_of(resolved)) return *e;
  std::unordered_map<RecordId, std::vector<RecordId>, DigestHash> successors;
  std::vector<const Record*> broken;  // candidates with an edge to a missing record
  for (const Record& r : q.records()) {
    if (r.kind != Kind::Candidate) continue;
    for (const DescentEdge& edge : edges_of(q, r)) {
      successors[edge.id].push_back(r.id);
      if (!q.find(edge.id)) broken.push_back(&r);
    }
  }
  // Descents that reach a missing record fail; the literal computation
  // reports the first of them in log order with its own error.
  if (!broken.empty()) {
    std::unordered_set<RecordId, DigestHash> failing;
    std::vector<RecordId> work;
    for (const Record* r : broken) work.push_back(r->id);
    while (!work.empty()) {
      RecordId next = work.back();
      work.pop_back();
      if (!failing.insert(next).second) continue;
      if (auto it = successors.find(next); it != successors.end()) work.insert(work.end(), it->second.begin(), it->second.end());
    }
    for (const Record& r : q.records())
      if (r.kind == Kind::Candidate && r.id != id && q.accepted(r.id) && failing.contains(r.id))
        return descendants_by_descent(q, id);
  }
  std::unordered_set<RecordId, DigestHash> reached;
  std::vector<RecordId> work{id};
  while (!work.empty()) {
    RecordId next = work.back();
    work.pop_back();
    auto it = successors.find(next);
    if (it == successors.end()) continue;
    for (const RecordId& s : it->second)
      if (reached.insert(s).second) work.push_back(s);
  }
  DescendantsReport report{q.node(*std::get<const Record*>(resolved)), {}};
  for (const Record& r : q.records())
    if (r.kind == Kind::Candidate && r.id != id && q.accepted(r.id) && reached.contains(r.id))
      report.descendants.push_back(q.node(r));
  return report;
}

QueryResult<SiblingsReport> siblings(const Queries& q, const RecordId& id) {
  auto resolved = q.resolve(id, kCandidateOnly, "Candidate");
  if (auto* e = error_of(resolved)) return *e;
  const Record& target = *std::get<const Record*>(resolved);
  SiblingsReport report{q.node(target), {}};
  auto data = decode_candidate_data(target.payload_json());
  if (!data || data->basis == CandidateBasis::Root) return report;
  const std::set<RecordId> causes = cause_set(target);
  for (const Record& r : q.records()) {
    if (r.kind != Kind::Candidate || r.id == id || !q.accepted(r.id)) continue;
    auto other = decode_candidate_data(r.payload_json());
    if (other && other->basis == data->basis && cause_set(r) == causes) report.siblings.push_back(q.node(r));
  }
  return report;
}

FrontierReport frontier(const Queries& q) {
  std::set<RecordId> considered, chosen, continued;
  for (const Record& r : q.records()) {
    if (!q.accepted(r.id)) continue;
    if (r.kind == Kind::Selection) {
      auto s = decode_selection_data(r.payload_json());
      if (!s) continue;
      considered.insert(s->considered.begin(), s->considered.end());
      if (s->outcome.selected) chosen.insert(s->outcome.selected->begin(), s->outcome.selected->end());
    } else if (r.kind == Kind::Candidate) {
      auto c = decode_candidate_data(r.payload_json());
      if (c && c->basis == CandidateBasis::Continuation && c->parent) continued.insert(*c->parent);
    }
  }
  FrontierReport report;
  for (const Record& r : q.records()) {
    if (r.kind != Kind::Candidate || !q.accepted(r.id)) continue;
    if (!considered.contains(r.id)) report.frontier.push_back({q.node(r), "unconsidered"});
    else if (chosen.contains(r.id) && !continued.contains(r.id))
      report.frontier.push_back({q.node(r), "selected-no-continuation"});
  }
  return report;
}

QueryResult<StandingReport> standing(const Queries& q, const RecordId& id) {
  auto resolved = q.resolve(id);
  if (auto* e = error_of(resolved)) return *e;
  StandingReport report{q.node(*std::get<const Record*>(resolved)), {}};
  if (auto it = q.standing().restorations.find(id); it != q.standing().restorations.end())
    report.restorations.assign(it->second.begin(), it->second.end());
  return report;
}

QueryResult<EvidenceReport> evidence(const Queries& q, const RecordId& id) {
  auto resolved = q.resolve(id, kCandidateOrSelection, "Candidate or Selection");
  if (auto* e = error_of(resolved)) return *e;
  const Record& target = *std::get<const Record*>(resolved);
  EvidenceReport report{q.node(target), {}};
  if (target.kind == Kind::Selection) {
    report.rests_on.push_back({report.target, q.selection_evidence(target.refs)});
    return report;
  }
  auto line = line_of(q, target);
  if (auto* e = error_of(line)) return *e;
  for (const DescentStep& step : std::get<0>(line)) {
    if (step.node.kind != Kind::Selection) continue;
    const Record* selection = q.find(step.node.id);
    if (!selection) return QueryError{QueryError::Case::NotFound, std::nullopt, step.node.id, {}};
    report.rests_on.push_back({step.node, q.selection_evidence(selection->refs)});
  }
  return report;
}

SelectedReport selected(const Queries& q, const std::string& objective) {
  SelectedReport report{objective, {}};
  for (const Record& r : q.records()) {
    if (r.kind != Kind::Selection || !q.accepted(r.id)) continue;
    auto s = decode_selection_data(r.payload_json());
    if (!s || s->objective != objective || !s->outcome.selected) continue;
    SelectedEntry entry{q.node(r), {}, q.selection_evidence(r.refs)};
    for (const RecordId& c : *s->outcome.selected)
      if (const Record* candidate = q.find(c)) entry.chosen.push_back(q.node(*candidate));
    report.selections.push_back(std::move(entry));
  }
  return report;
}

Json report_json(const DescentReport& r) {
  JsonArray line;
  for (const auto& step : r.line) line.push_back(object({{"node", node_json(step.node)}, {"via", Json(step.via)}}));
  return object({{"target", node_json(r.target)}, {"line", Json(std::move(line))}});
}

Json report_json(const DescendantsReport& r) {
  return object({{"target", node_json(r.target)}, {"descendants", Json(nodes_json(r.descendants))}});
}

Json report_json(const SiblingsReport& r) {
  return object({{"target", node_json(r.target)}, {"siblings", Json(nodes_json(r.siblings))}});
}

Json report_json(const FrontierReport& r) {
  JsonArray entries;
  for (const auto& e : r.frontier) entries.push_back(object({{"node", node_json(e.node)}, {"reason", Json(e.reason)}}));
  return object({{"frontier", Json(std::move(entries))}});
}

Json report_json(const StandingReport& r) {
  JsonArray ids;
  for (const auto& id : r.restorations) ids.push_back(Json(hex_encode(id)));
  return object({{"node", node_json(r.node)}, {"restorations", Json(std::move(ids))}});
}

Json report_json(const EvidenceReport& r) {
  JsonArray rests;
  for (const auto& s : r.rests_on)
    rests.push_back(object({{"selection", node_json(s.selection)}, {"evidence", Json(entries_json(s.evidence))}}));
  return object({{"target", node_json(r.target)}, {"rests_on", Json(std::move(rests))}});
}

Json report_json(const SelectedReport& r) {
  JsonArray entries;
  for (const auto& e : r.selections)
    entries.push_back(object({{"selection", node_json(e.selection)},
                              {"chosen", Json(nodes_json(e.chosen))},
                              {"evidence", Json(entries_json(e.evidence))}}));
  return object({{"objective", Json(r.objective)}, {"selections", Json(std::move(entries))}});
}

}  // namespace quillane
