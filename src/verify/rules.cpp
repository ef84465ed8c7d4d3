#include "verify/rules.h"

#include <array>

#include "base/jcs_writer.h"
#include "base/schema.h"
#include "base/strict_decoders.h"

namespace quillane {
namespace {

constexpr std::array<std::string_view, 15> kFieldNames = {
    "space",
    "kind_schema_map",
    "signature_required_kinds",
    "author_keys",
    "author_roles",
    "admin_retraction_actors",
    "allowed_summary_types",
    "evidence_thresholds",
    "max_context_records",
    "min_binding",
    "selection_requires_evaluation",
    "reaffirmation_actors",
    "max_considered",
    "selection_requires_approval",
    "reject_compromised_continuation",
};
constexpr std::size_t kRequiredFields = 9;

// The kind of each entry of the schema-name table, in table order.
constexpr std::array<Kind, 20> kSchemaKinds = {
    Kind::Request,    Kind::Action,     Kind::Response,   Kind::Result,      Kind::Result,
    Kind::Result,     Kind::Capability, Kind::Approval,   Kind::Summary,     Kind::Refusal,
    Kind::Usage,      Kind::Verdict,    Kind::Plan,       Kind::Retraction,  Kind::Candidate,
    Kind::Evaluation, Kind::Selection,  Kind::Requirement, Kind::Evaluation, Kind::Evaluation,
};

template <typename Set, typename ToJson>
Json set_json(const Set& set, ToJson to_json) {
  JsonArray out;
  out.reserve(set.size());
  for (const auto& m : set) out.push_back(to_json(m));
  return Json(std::move(out));
}

Json string_json(const std::string& s) { return Json(s); }

Result<std::string> read_actor(JsonReader& r) { return r.read_string("an actor id string"); }

template <typename E>
Result<E> enum_key(const JsonReader& r, std::string text) {
  if (auto v = enum_from_name<E>(text)) return *v;
  return unknown_variant<E>(r, text);
}

Result<std::string> string_key(const JsonReader&, std::string text) { return text; }

// Actor id to a list of keys; repeated keys within a list and repeated actors
// are refused with messages of their own.
Result<std::map<std::string, std::set<Digest>>> strict_author_keys(JsonReader& r) {
  QL_TRY(r.begin_object("an actor-key object with unique actors and keys"));
  std::map<std::string, std::set<Digest>> out;
  JsonReader::Cursor cursor;
  for (;;) {
    QL_ASSIGN(auto actor, r.next_key(cursor));
    if (!actor) return out;
    QL_TRY(r.colon());
    QL_TRY(r.begin_array("an actor-key object with unique actors and keys"));
    std::set<Digest> keys;
    JsonReader::Cursor list;
    for (;;) {
      QL_ASSIGN(bool more, r.next_element(list));
      if (!more) break;
      QL_ASSIGN(Digest key, read_digest(r));
      if (!keys.insert(key).second) return r.error("duplicate key for author");
    }
    if (!out.emplace(std::move(*actor), std::move(keys)).second)
      return r.error("duplicate author in author_keys");
  }
}

Result<std::uint32_t> read_u32(JsonReader& r) {
  QL_ASSIGN(std::uint64_t n, r.read_unsigned(UINT32_MAX, "u32"));
  return static_cast<std::uint32_t>(n);
}

Status read_field(JsonReader& r, std::size_t index, VerifierRules& rules) {
  switch (index) {
    case 0: return store(rules.space, read_digest(r));
    case 1: return store(rules.kind_schema_map, map_as_pairs<Digest, Kind>(r, read_digest, read_enum<Kind>));
    case 2: return store(rules.signature_required_kinds, strict_set<Kind>(r, read_enum<Kind>));
    case 3: return store(rules.author_keys, strict_author_keys(r));
    case 4:
      return store(rules.author_roles, strict_map<std::string, AuthorType>(r, string_key, read_enum<AuthorType>));
    case 5: return store(rules.admin_retraction_actors, strict_set<std::string>(r, read_actor));
    case 6: return store(rules.allowed_summary_types, strict_set<SummaryType>(r, read_enum<SummaryType>));
    case 7: return store(rules.evidence_thresholds, strict_map<Kind, Evidence>(r, enum_key<Kind>, read_enum<Evidence>));
    case 8: return store(rules.max_context_records, read_u32(r));
    case 9: return store(rules.min_binding, read_enum<BindingMode>(r));
    case 10: return store(rules.selection_requires_evaluation, r.read_bool("a boolean"));
    case 11: return store(rules.reaffirmation_actors, strict_set<std::string>(r, read_actor));
    case 12: return store(rules.max_considered, read_u32(r));
    case 13: return store(rules.selection_requires_approval, r.read_bool("a boolean"));
    default: return store(rules.reject_compromised_continuation, r.read_bool("a boolean"));
  }
}

}  // namespace

VerifierRules VerifierRules::make(const Digest& space, std::uint32_t max_context_records) {
  VerifierRules rules;
  rules.space = space;
  rules.kind_schema_map = frozen_kind_schema_map();
  rules.allowed_summary_types = {SummaryType::Procedure, SummaryType::Pattern, SummaryType::Lesson,
                                 SummaryType::StateSnapshot};
  rules.max_context_records = max_context_records;
  return rules;
}

VerifierRules VerifierRules::with_baseline_thresholds() const {
  VerifierRules rules = *this;
  rules.evidence_thresholds[Kind::Candidate] = Evidence::Reported;
  rules.evidence_thresholds[Kind::Evaluation] = Evidence::Reported;
  rules.evidence_thresholds[Kind::Selection] = Evidence::Inferred;
  return rules;
}

const std::map<Digest, Kind>& frozen_kind_schema_map() {
  static const auto table = [] {
    std::map<Digest, Kind> out;
    for (std::size_t i = 0; i < kSchemaNames.size(); ++i) out.emplace(schema_id(kSchemaNames[i]), kSchemaKinds[i]);
    return out;
  }();
  return table;
}

Json rules_json(const VerifierRules& rules) {
  JsonArray schema_pairs;
  for (const auto& [id, kind] : rules.kind_schema_map)
    schema_pairs.push_back(Json(JsonArray{digest_json(id), enum_json(kind)}));
  JsonObject author_keys;
  for (const auto& [actor, keys] : rules.author_keys) author_keys.emplace_back(actor, set_json(keys, digest_json));
  JsonObject author_roles;
  for (const auto& [actor, type] : rules.author_roles) author_roles.emplace_back(actor, enum_json(type));
  JsonObject thresholds;
  for (const auto& [kind, evidence] : rules.evidence_thresholds)
    thresholds.emplace_back(std::string(name_of(kind)), enum_json(evidence));

  JsonObject o;
  o.reserve(kFieldNames.size());
  o.emplace_back("space", digest_json(rules.space));
  o.emplace_back("kind_schema_map", Json(std::move(schema_pairs)));
  o.emplace_back("signature_required_kinds", set_json(rules.signature_required_kinds, enum_json<Kind>));
  o.emplace_back("author_keys", Json(std::move(author_keys)));
  o.emplace_back("author_roles", Json(std::move(author_roles)));
  o.emplace_back("admin_retraction_actors", set_json(rules.admin_retraction_actors, string_json));
  o.emplace_back("allowed_summary_types", set_json(rules.allowed_summary_types, enum_json<SummaryType>));
  o.emplace_back("evidence_thresholds", Json(std::move(thresholds)));
  o.emplace_back("max_context_records", Json(rules.max_context_records));
  o.emplace_back("min_binding", enum_json(rules.min_binding));
  o.emplace_back("selection_requires_evaluation", Json(rules.selection_requires_evaluation));
  o.emplace_back("reaffirmation_actors", set_json(rules.reaffirmation_actors, string_json));
  o.emplace_back("max_considered", Json(rules.max_considered));
  o.emplace_back("selection_requires_approval", Json(rules.selection_requires_approval));
  o.emplace_back("reject_compromised_continuation", Json(rules.reject_compromised_continuation));
  return Json(std::move(o));
}

Result<std::string> encode_rules_plain(const VerifierRules& rules) { return plain_json(rules_json(rules)); }

Result<std::string> encode_rules_canonical(const VerifierRules& rules) { return canonical_json(rules_json(rules)); }

Result<Digest> rules_hash(const VerifierRules& rules) {
  QL_ASSIGN(std::string bytes, encode_rules_canonical(rules));
  return sha256(bytes);
}

Result<VerifierRules> read_rules(JsonReader& r) {
  VerifierRules rules;
  FieldSet fields(kFieldNames, FieldSet::first(kRequiredFields));
  QL_TRY(read_fields(r, "struct VerifierRules", fields,
                     [&](std::size_t index) { return read_field(r, index, rules); }));
  return rules;
}

Result<VerifierRules> decode_rules(std::string_view text) {
  JsonReader r(text);
  QL_ASSIGN(VerifierRules rules, read_rules(r));
  QL_TRY(r.finish());
  return rules;
}

}  // namespace quillane
