#include "profiles/core_v1.h"

#include <array>
#include <utility>

#include "record/evolution_payloads.h"
#include "state/state.h"

namespace quillane {
namespace {

constexpr std::uint32_t kMaxContextRecordsBound = 100'000;

std::string join(const std::set<std::string>& items) {
  std::string out;
  for (const std::string& item : items) {
    if (!out.empty()) out += ", ";
    out += item;
  }
  return out;
}

ClauseResult b1(const Report& report) {
  return {"B1", report.status != ValidationStatus::Invalid,
          "status " + std::string(validation_status_name(report.status))};
}

ClauseResult b2(const VerifierRules& rules) {
  return {"B2", !rules.author_roles.empty(),
          std::to_string(rules.author_roles.size()) + " registered author role(s)"};
}

// Each threshold must be no weaker than the kind's base evidence class;
// a larger Evidence value is weaker.
ClauseResult b3(const VerifierRules& rules) {
  constexpr std::array<std::pair<Kind, Evidence>, 3> kBases = {{{Kind::Candidate, Evidence::Reported},
                                                                {Kind::Evaluation, Evidence::Reported},
                                                                {Kind::Selection, Evidence::Inferred}}};
  bool passed = true;
  std::string detail;
  for (const auto& [kind, base] : kBases) {
    if (!detail.empty()) detail += ", ";
    detail += std::string(name_of(kind)) + "=";
    auto it = rules.evidence_thresholds.find(kind);
    if (it == rules.evidence_thresholds.end()) {
      detail += "missing";
      passed = false;
      continue;
    }
    detail += name_of(it->second);
    if (it->second > base) {
      detail += " (weaker than " + std::string(name_of(base)) + ")";
      passed = false;
    }
  }
  return {"B3", passed, std::move(detail)};
}

ClauseResult b4(const VerifierRules& rules) {
  const std::uint32_t n = rules.max_context_records;
  return {"B4", n >= 1 && n <= kMaxContextRecordsBound, "max_context_records " + std::to_string(n)};
}

ClauseResult b5(const VerifierRules& rules) {
  return {"B5", true,
          "admin_retraction_actors [" + join(rules.admin_retraction_actors) + "], reaffirmation_actors [" +
              join(rules.reaffirmation_actors) + "]"};
}

// Counts the source bindings of the accepted Candidates, from the state the
// records rebuild without judging; an Invalid receipt counts nothing.
ClauseResult b6(const Receipt& receipt, const Report& report) {
  std::uint64_t manifest = 0, reported = 0;
  if (report.status != ValidationStatus::Invalid) {
    if (auto state = build_state_unchecked(receipt.records)) {
      for (const Record& record : receipt.records) {
        if (record.kind != Kind::Candidate || !state->accepted(record.id)) continue;
        auto data = decode_candidate_data(record.payload_json());
        if (!data) continue;
        ++(data->source.binding == BindingMode::Manifest ? manifest : reported);
      }
    }
  }
  return {"B6", true,
          "candidates: " + std::to_string(manifest) + " manifest-bound, " + std::to_string(reported) + " reported"};
}

}  // namespace

ProfileTable core_v1_table() {
  return ProfileTable{
      std::string(kCoreV1Id),
      1,
      {
          {"B1", "The receipt validates Clean or Tainted; an Invalid receipt never conforms."},
          {"B2", "author_roles is non-empty, and every accepted record's author is registered in it."},
          {"B3",
           "evidence_thresholds carries entries for Candidate, Evaluation, and Selection, each no weaker than the "
           "schema base class (Reported, Reported, Inferred)."},
          {"B4", "max_context_records is declared within 1..=100000."},
          {"B5",
           "Retraction and reaffirmation authority are readable from the rules: admin_retraction_actors and "
           "reaffirmation_actors are reported."},
          {"B6",
           "The source binding mode of every accepted Candidate (Manifest or Reported) is reported; neither is "
           "required."},
      },
  };
}

ProfileResult evaluate_core_v1(const Receipt& receipt, const Report& report) {
  const VerifierRules& rules = receipt.rules;
  return finish_profile(core_v1_table(),
                        {b1(report), b2(rules), b3(rules), b4(rules), b5(rules), b6(receipt, report)});
}

}  // namespace quillane
