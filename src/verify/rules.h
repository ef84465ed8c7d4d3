// VerifierRules: the rules object a log is committed under. Its canonical
// encoding is embedded in receipts and hashed; its plain encoding (fields in
// declaration order) is what default_rules returns.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "base/digest.h"
#include "base/json_reader.h"
#include "base/json_value.h"
#include "base/result.h"
#include "record/enums.h"

namespace quillane {

struct VerifierRules {
  Digest space{};
  std::map<Digest, Kind> kind_schema_map;
  std::set<Kind> signature_required_kinds;
  std::map<std::string, std::set<Digest>> author_keys;
  std::map<std::string, AuthorType> author_roles;
  std::set<std::string> admin_retraction_actors;
  std::set<SummaryType> allowed_summary_types;
  std::map<Kind, Evidence> evidence_thresholds;
  std::uint32_t max_context_records = 0;
  BindingMode min_binding = BindingMode::Reported;
  bool selection_requires_evaluation = true;
  std::set<std::string> reaffirmation_actors;
  std::uint32_t max_considered = 4096;
  bool selection_requires_approval = false;
  bool reject_compromised_continuation = false;

  // The baseline rules: the frozen schema map, every summary type allowed,
  // everything else empty or at its default.
  static VerifierRules make(const Digest& space, std::uint32_t max_context_records);

  // Sets the Candidate, Evaluation and Selection evidence thresholds to the
  // base evidence classes of their schemas, keeping other entries.
  VerifierRules with_baseline_thresholds() const;

  bool operator==(const VerifierRules&) const = default;
};

// The twenty schema ids, each with the only kind that may carry it.
const std::map<Digest, Kind>& frozen_kind_schema_map();

// Value tree with the fifteen fields in declaration order.
Json rules_json(const VerifierRules& rules);
Result<std::string> encode_rules_plain(const VerifierRules& rules);
Result<std::string> encode_rules_canonical(const VerifierRules& rules);
// SHA-256 of the canonical encoding.
Result<Digest> rules_hash(const VerifierRules& rules);

// Strict decoding of a whole text (nothing but white space after the value).
Result<VerifierRules> decode_rules(std::string_view text);
// Strict decoding of the rules value at the reader's position.
Result<VerifierRules> read_rules(JsonReader& r);

}  // namespace quillane
