#include "profiles/delivery_v1.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/quoted.h"
#include "profiles/profile_log.h"
#include "record/activity_payloads.h"
#include "record/evolution_payloads.h"

namespace quillane {
namespace {

constexpr std::string_view kNoClaim =
    "no delivery claim: no accepted Selected selection whose used evaluations bind to requirements of exactly one "
    "request";

std::string join(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (const std::string& item : items) {
    if (!out.empty()) out += separator;
    out += item;
  }
  return out;
}

// The target of the record's first Cause ref.
std::optional<RecordId> first_cause(const Record& record) {
  for (const Ref& ref : record.refs)
    if (ref.type == RefType::Cause) return ref.target;
  return std::nullopt;
}

bool passed(const EvaluationOutcomeV2& outcome) {
  const auto* plain = std::get_if<PlainOutcomeV2>(&outcome);
  return plain != nullptr && *plain == PlainOutcomeV2::Passed;
}

struct UsedEvaluation {
  const Record* record = nullptr;
  std::optional<EvaluationDataV2> v2;  // none: the v1 shape, counted but not read
};

// An accepted Selected selection whose used evaluations bind to the
// requirements of exactly one request.
struct Claim {
  const Record* selection = nullptr;
  RecordId request{};
  std::vector<RecordId> chosen;
  std::vector<UsedEvaluation> evaluations;

  std::string label() const { return short_id(selection->id); }
  std::size_t v1_count() const {
    return std::count_if(evaluations.begin(), evaluations.end(), [](const UsedEvaluation& e) { return !e.v2; });
  }
  std::size_t v2_count() const { return evaluations.size() - v1_count(); }
};

std::vector<Claim> discover_claims(const Receipt& receipt, const ProfileLog& log) {
  std::vector<Claim> claims;
  for (const Record& record : receipt.records) {
    if (record.kind != Kind::Selection || !log.state.accepted(record.id)) continue;
    auto selection = decode_selection_data(record.payload_json());
    if (!selection || !selection->outcome.selected) continue;
    Claim claim{&record, {}, *selection->outcome.selected, {}};
    std::set<RecordId> requests;
    for (const Ref& ref : record.refs) {
      if (ref.type != RefType::Use) continue;
      const Record* evaluation = log.accepted(ref.target, Kind::Evaluation);
      if (evaluation == nullptr) continue;
      UsedEvaluation used{evaluation, std::nullopt};
      if (auto v2 = decode_evaluation_data_v2(evaluation->payload_json())) {
        for (const RecordId& id : v2->requirements)
          if (const Record* requirement = log.accepted(id, Kind::Requirement))
            if (auto request = first_cause(*requirement)) requests.insert(*request);
        used.v2 = std::move(*v2);
      }
      claim.evaluations.push_back(std::move(used));
    }
    if (requests.size() != 1) continue;
    claim.request = *requests.begin();
    claims.push_back(std::move(claim));
  }
  return claims;
}

bool sound(const Report& report, const RecordId& selection) {
  return !report.standing.unsound.contains(selection) && !report.tainted.contains(selection) &&
         !report.retracted.contains(selection);
}

struct Choice {
  std::vector<Claim> evaluated;      // by Selection time
  std::vector<RecordId> superseded;  // request by request, by time within one
};

// Per request, the latest sound claim (or the latest, when none is sound);
// the others are superseded.
Choice choose_claims(std::vector<Claim> claims, const Report& report) {
  std::map<RecordId, std::vector<Claim>> by_request;
  for (Claim& claim : claims) by_request[claim.request].push_back(std::move(claim));
  Choice choice;
  for (auto& [request, group] : by_request) {
    std::stable_sort(group.begin(), group.end(),
                     [](const Claim& a, const Claim& b) { return a.selection->time < b.selection->time; });
    std::size_t chosen = group.size() - 1;
    for (std::size_t i = group.size(); i-- > 0;) {
      if (sound(report, group[i].selection->id)) {
        chosen = i;
        break;
      }
    }
    for (std::size_t i = 0; i < group.size(); ++i)
      if (i != chosen) choice.superseded.push_back(group[i].selection->id);
    choice.evaluated.push_back(std::move(group[chosen]));
  }
  std::stable_sort(choice.evaluated.begin(), choice.evaluated.end(),
                   [](const Claim& a, const Claim& b) { return a.selection->time < b.selection->time; });
  return choice;
}

// One claim's verdict on one clause.
struct Item {
  bool passed = true;
  std::string detail;
};

ClauseResult d0(const Choice& choice) {
  std::vector<std::string> labels;
  for (const Claim& claim : choice.evaluated)
    labels.push_back("claim " + claim.label() + " for request " + short_id(claim.request));
  std::string detail = join(labels, "; ");
  if (!choice.superseded.empty()) {
    std::vector<std::string> superseded;
    for (const RecordId& id : choice.superseded) superseded.push_back(short_id(id));
    detail += "; superseded: " + join(superseded, ", ");
  }
  return {"D0", true, std::move(detail)};
}

// The accepted, unretracted Requirements under the claim's request that
// decode as required, in log order.
std::vector<const Record*> required_requirements(const Claim& claim, const Receipt& receipt, const ProfileLog& log,
                                                 const Report& report) {
  std::vector<const Record*> out;
  for (const Record& record : receipt.records) {
    if (record.kind != Kind::Requirement || !log.state.accepted(record.id) || report.retracted.contains(record.id))
      continue;
    if (first_cause(record) != claim.request) continue;
    auto data = decode_requirement_data(record.payload_json());
    if (data && data->required) out.push_back(&record);
  }
  return out;
}

bool lists(const EvaluationDataV2& evaluation, const RecordId& requirement) {
  return std::find(evaluation.requirements.begin(), evaluation.requirements.end(), requirement) !=
         evaluation.requirements.end();
}

Item d1(const Claim& claim, const std::vector<const Record*>& required, const Report& report) {
  std::vector<std::string> uncovered;
  for (const Record* requirement : required) {
    const bool covered = std::any_of(claim.evaluations.begin(), claim.evaluations.end(), [&](const UsedEvaluation& e) {
      return e.v2 && !report.retracted.contains(e.record->id) && passed(e.v2->outcome) &&
             lists(*e.v2, requirement->id);
    });
    if (covered) continue;
    auto data = decode_requirement_data(requirement->payload_json());
    uncovered.push_back(data ? data->key : std::string());
  }
  if (uncovered.empty())
    return {true, claim.label() + ": " + std::to_string(required.size()) + " required requirement(s) covered"};
  return {false, claim.label() + ": uncovered " + join(uncovered, ", ")};
}

Item d2(const Claim& claim, const std::vector<const Record*>& required) {
  std::vector<std::string> entries;
  for (const UsedEvaluation& e : claim.evaluations) {
    if (!e.v2 || passed(e.v2->outcome)) continue;
    const bool speaks = std::any_of(required.begin(), required.end(),
                                    [&](const Record* requirement) { return lists(*e.v2, requirement->id); });
    if (speaks) entries.push_back(short_id(e.record->id) + " " + label(e.v2->outcome));
  }
  if (entries.empty()) return {true, claim.label() + ": every used evaluation of a required requirement passed"};
  return {false, claim.label() + ": non-passing " + join(entries, ", ")};
}

// The chosen candidate's record when the claim chooses exactly one that is
// a Candidate in the log.
const Record* single_candidate(const Claim& claim, const ProfileLog& log) {
  if (claim.chosen.size() != 1) return nullptr;
  const Record* candidate = log.find(claim.chosen.front());
  return candidate != nullptr && candidate->kind == Kind::Candidate ? candidate : nullptr;
}

using ArtifactKey = std::pair<std::string, std::string>;  // (scheme, digest); names are ignored

// The candidate's artifacts and those of every accepted Result in its thread.
std::set<ArtifactKey> on_record_artifacts(const Record& candidate, const Receipt& receipt, const ProfileLog& log) {
  std::set<ArtifactKey> out;
  auto add = [&](const std::optional<std::vector<ArtifactRef>>& artifacts) {
    if (artifacts)
      for (const ArtifactRef& a : *artifacts) out.emplace(a.scheme, a.digest);
  };
  if (auto data = decode_candidate_data(candidate.payload_json())) add(data->artifacts);
  for (const Record& record : receipt.records) {
    if (record.kind != Kind::Result || record.thread != candidate.thread || !log.state.accepted(record.id)) continue;
    if (auto data = decode_result_data(record.payload_json())) add(data->artifacts);
  }
  return out;
}

Item d3(const Claim& claim, const Receipt& receipt, const ProfileLog& log) {
  std::vector<std::string> issues;
  std::set<ArtifactKey> on_record;
  if (claim.chosen.size() != 1)
    issues.push_back("chooses " + std::to_string(claim.chosen.size()) + " candidates");
  else if (const Record* candidate = single_candidate(claim, log))
    on_record = on_record_artifacts(*candidate, receipt, log);
  if (const std::size_t v1 = claim.v1_count())
    issues.push_back(std::to_string(v1) + " evaluation(s) without an evidence set (v1 shape)");
  for (const UsedEvaluation& e : claim.evaluations) {
    if (!e.v2) continue;
    const std::string id = short_id(e.record->id);
    if (claim.chosen.size() != 1 || e.v2->candidate != claim.chosen.front())
      issues.push_back(id + " judges another candidate");
    if (e.v2->evidence.empty()) issues.push_back(id + " has no evidence");
    for (const ArtifactRef& a : e.v2->evidence)
      if (!on_record.contains({a.scheme, a.digest}))
        issues.push_back(id + " cites " + a.scheme + ":" + a.digest + " which is not on the record");
  }
  if (issues.empty())
    return {true, claim.label() + ": " + std::to_string(claim.v2_count()) +
                      " evaluation(s) bound to the chosen candidate, evidence on the record"};
  return {false, claim.label() + ": " + join(issues, "; ")};
}

Item d4(const Claim& claim, const ProfileLog& log) {
  const Record* candidate = single_candidate(claim, log);
  if (candidate == nullptr) return {false, claim.label() + ": no single claimed candidate"};
  const std::string& producer = candidate->author.id;
  std::vector<std::string> own;
  for (const UsedEvaluation& e : claim.evaluations)
    if (e.record->author.id == producer) own.push_back(short_id(e.record->id));
  if (own.empty()) return {true, claim.label() + ": producer " + quoted_form(producer) + ", every evaluator distinct"};
  return {false, claim.label() + ": producer " + quoted_form(producer) + " authored evaluation(s) " + join(own, ", ")};
}

Item d5(const Claim& claim) {
  std::vector<std::string> issues;
  if (const std::size_t v1 = claim.v1_count())
    issues.push_back(std::to_string(v1) + " evaluation(s) carry no decider binding (v1 shape)");
  bool any_declared = false;
  for (const UsedEvaluation& e : claim.evaluations) {
    if (!e.v2) continue;
    if (!e.v2->evaluator.procedure_hash || !e.v2->evaluator.input_hash)
      issues.push_back(short_id(e.record->id) + " lacks procedure_hash or input_hash");
    any_declared = any_declared || e.v2->basis == Basis::Declared;
  }
  const bool none = claim.v2_count() == 0;
  const std::string weakest = none ? "none" : any_declared ? "declared" : "recomputed";
  if (none && issues.empty()) issues.push_back("no evaluation used");
  if (issues.empty()) return {true, claim.label() + ": weakest basis " + weakest};
  return {false, claim.label() + ": " + join(issues, "; ") + "; weakest basis " + weakest};
}

Item d7(const Claim& claim, const Report& report) {
  const RecordId& id = claim.selection->id;
  std::vector<std::string> words;
  if (report.standing.unsound.contains(id)) words.emplace_back("unsound");
  if (report.tainted.contains(id)) words.emplace_back("tainted");
  if (report.retracted.contains(id)) words.emplace_back("retracted");
  if (words.empty()) return {true, claim.label() + ": sound, untainted"};
  return {false, claim.label() + ": " + join(words, ", ")};
}

// A per-claim clause: passes when it passes for every claim.
ClauseResult combine(std::string id, const std::vector<Item>& items) {
  bool all = true;
  std::vector<std::string> details;
  for (const Item& item : items) {
    all = all && item.passed;
    details.push_back(item.detail);
  }
  return {std::move(id), all, join(details, "; ")};
}

}  // namespace

ProfileTable delivery_v1_table() {
  return ProfileTable{
      std::string(kDeliveryV1Id),
      1,
      {
          {"D0",
           "At least one delivery claim exists: an accepted Selection with outcome Selected whose Used evaluations "
           "bind to requirements of exactly one Request. For each request the latest sound claim is evaluated; "
           "earlier ones are reported superseded."},
          {"D1",
           "Every accepted, unretracted Requirement with required true under the claim's request, as of the receipt "
           "head, has at least one evaluation among the claim's Used evaluations that references it with outcome "
           "passed."},
          {"D2",
           "No evaluation among the claim's Used evaluations that references a required requirement has an outcome "
           "other than passed."},
          {"D3",
           "The claim chooses exactly one candidate; every evaluation it uses judges that candidate, carries a "
           "non-empty evidence set, and every evidence reference appears in the candidate's artifacts or in the "
           "artifacts of an accepted Result in the same thread."},
          {"D4", "The author of every evaluation the claim uses is a different actor from the author of the claimed "
                 "candidate."},
          {"D5",
           "Every evaluation the claim uses carries evaluator.id, evaluator.procedure_hash, evaluator.input_hash, "
           "and a declared basis; the weakest basis in the claim is reported."},
          {"D6",
           "The receipt conforms to quillane-core-v1 (or a stronger tier), and if it declares that profile the "
           "declaration names the evaluated table."},
          {"D7", "The claim's Selection is sound, untainted, and unretracted at the receipt head."},
      },
  };
}

ProfileResult evaluate_delivery_v1(const Receipt& receipt, const Report& report) {
  const ProfileTable table = delivery_v1_table();
  auto log = profile_log(receipt, report);
  if (!log) return finish_profile(table, all_clauses_failed(table, log.error().message));

  const Choice choice = choose_claims(discover_claims(receipt, *log), report);
  if (choice.evaluated.empty()) {
    std::vector<ClauseResult> clauses = all_clauses_failed(table, "no claim to evaluate");
    clauses.front().detail = std::string(kNoClaim);
    return finish_profile(table, std::move(clauses));
  }

  std::vector<Item> i1, i2, i3, i4, i5, i7;
  for (const Claim& claim : choice.evaluated) {
    const std::vector<const Record*> required = required_requirements(claim, receipt, *log, report);
    i1.push_back(d1(claim, required, report));
    i2.push_back(d2(claim, required));
    i3.push_back(d3(claim, receipt, *log));
    i4.push_back(d4(claim, *log));
    i5.push_back(d5(claim));
    i7.push_back(d7(claim, report));
  }
  return finish_profile(table, {d0(choice), combine("D1", i1), combine("D2", i2), combine("D3", i3),
                                combine("D4", i4), combine("D5", i5), core_tier_clause("D6", receipt, report),
                                combine("D7", i7)});
}

}  // namespace quillane
