// The seven named queries over one log, and the JSON form of their reports
// (keys in ascending order once written canonically).
#pragma once

#include <string>
#include <vector>

#include "queries/queries.h"

namespace quillane {

struct DescentStep {
  Node node;
  std::string via;
};
struct DescentReport {
  Node target;
  std::vector<DescentStep> line;
};
struct DescendantsReport {
  Node target;
  std::vector<Node> descendants;
};
struct SiblingsReport {
  Node target;
  std::vector<Node> siblings;
};
struct FrontierEntry {
  Node node;
  std::string reason;  // "unconsidered" or "selected-no-continuation"
};
struct FrontierReport {
  std::vector<FrontierEntry> frontier;
};
struct StandingReport {
  Node node;
  std::vector<RecordId> restorations;
};
struct SelectionEvidence {
  Node selection;
  std::vector<EvidenceEntry> evidence;
};
struct EvidenceReport {
  Node target;
  std::vector<SelectionEvidence> rests_on;
};
struct SelectedEntry {
  Node selection;
  std::vector<Node> chosen;
  std::vector<EvidenceEntry> evidence;
};
struct SelectedReport {
  std::string objective;
  std::vector<SelectedEntry> selections;
};

QueryResult<DescentReport> descent(const Queries& q, const RecordId& id);
QueryResult<DescendantsReport> descendants(const Queries& q, const RecordId& id);
QueryResult<SiblingsReport> siblings(const Queries& q, const RecordId& id);
FrontierReport frontier(const Queries& q);
QueryResult<StandingReport> standing(const Queries& q, const RecordId& id);
QueryResult<EvidenceReport> evidence(const Queries& q, const RecordId& id);
SelectedReport selected(const Queries& q, const std::string& objective);

// descendants computed literally, one descent per candidate; the reference
// the faster walk is tested against.
QueryResult<DescendantsReport> descendants_by_descent(const Queries& q, const RecordId& id);

Json report_json(const DescentReport& r);
Json report_json(const DescendantsReport& r);
Json report_json(const SiblingsReport& r);
Json report_json(const FrontierReport& r);
Json report_json(const StandingReport& r);
Json report_json(const EvidenceReport& r);
Json report_json(const SelectedReport& r);

}  // namespace quillane
