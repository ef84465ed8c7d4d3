#include "profiles/signed_v1.h"

#include <array>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/schema.h"
#include "profiles/profile_log.h"
#include "record/evolution_payloads.h"

namespace quillane {
namespace {

// The evolution kinds, in the order S1 reports them.
constexpr std::array<Kind, 5> kEvolutionKinds = {Kind::Candidate, Kind::Evaluation, Kind::Selection,
                                                 Kind::Retraction, Kind::Requirement};

bool is_evolution_kind(Kind kind) {
  for (Kind k : kEvolutionKinds)
    if (k == kind) return true;
  return false;
}

template <typename Range>
std::string join(const Range& items) {
  std::string out;
  for (const auto& item : items) {
    if (!out.empty()) out += ", ";
    out += item;
  }
  return out;
}

ClauseResult s1(const VerifierRules& rules) {
  std::vector<std::string> missing;
  for (Kind kind : kEvolutionKinds)
    if (!rules.signature_required_kinds.contains(kind)) missing.emplace_back(name_of(kind));
  if (missing.empty())
    return {"S1", true, "signatures required for Candidate, Evaluation, Selection, Retraction, Requirement"};
  return {"S1", false, "signature not required for " + join(missing)};
}

ClauseResult s2(const Receipt& receipt, const ProfileLog& log) {
  std::set<std::string> pinned;
  std::map<std::string, std::set<std::string>> unpinned;  // author -> kind names written
  for (const Record& record : receipt.records) {
    if (!is_evolution_kind(record.kind) || !log.state.accepted(record.id)) continue;
    if (receipt.rules.author_keys.contains(record.author.id))
      pinned.insert(record.author.id);
    else
      unpinned[record.author.id].emplace(name_of(record.kind));
  }
  if (unpinned.empty())
    return {"S2", true,
            std::to_string(pinned.size()) + " pinned author(s) of evolution records: [" + join(pinned) + "]"};
  std::vector<std::string> entries;
  for (const auto& [author, kinds] : unpinned) entries.push_back(author + " (" + join(kinds) + ")");
  return {"S2", false, "unpinned: " + join(entries)};
}

// Every use of an accepted Evaluation by an accepted Selected selection
// counts, so an evaluation used twice counts twice.
ClauseResult s3(const Receipt& receipt, const ProfileLog& log) {
  const Digest attested = schema_id("quillane.evaluation.attested.v1");
  std::size_t used = 0;
  std::vector<std::string> not_attested;
  for (const Record& record : receipt.records) {
    if (record.kind != Kind::Selection || !log.state.accepted(record.id)) continue;
    auto selection = decode_selection_data(record.payload_json());
    if (!selection || !selection->outcome.selected) continue;
    for (const Ref& ref : record.refs) {
      if (ref.type != RefType::Use) continue;
      const Record* evaluation = log.accepted(ref.target, Kind::Evaluation);
      if (evaluation == nullptr) continue;
      ++used;
      if (evaluation->schema != attested) not_attested.push_back(short_id(evaluation->id));
    }
  }
  if (not_attested.empty())
    return {"S3", true, std::to_string(used) + " evaluation(s) used by selections, all attested"};
  return {"S3", false,
          "not attested: " + std::to_string(not_attested.size()) + " of " + std::to_string(used) +
              " used evaluation(s): [" + join(not_attested) + "]"};
}

}  // namespace

ProfileTable signed_v1_table() {
  return ProfileTable{
      std::string(kSignedV1Id),
      1,
      {
          {"S0",
           "The receipt conforms to quillane-core-v1, and if it declares that profile the declaration names the "
           "evaluated table."},
          {"S1", "signature_required_kinds includes Candidate, Evaluation, Selection, Retraction, and Requirement."},
          {"S2",
           "author_keys pins every actor that authored an accepted Candidate, Evaluation, Selection, Retraction, or "
           "Requirement."},
          {"S3",
           "Every evaluation Used by an accepted Selection with outcome Selected carries the schema "
           "quillane.evaluation.attested.v1."},
      },
  };
}

ProfileResult evaluate_signed_v1(const Receipt& receipt, const Report& report) {
  const ProfileTable table = signed_v1_table();
  auto log = profile_log(receipt, report);
  if (!log) return finish_profile(table, all_clauses_failed(table, log.error().message));
  return finish_profile(table, {core_tier_clause("S0", receipt, report), s1(receipt.rules), s2(receipt, *log),
                                s3(receipt, *log)});
}

}  // namespace quillane
