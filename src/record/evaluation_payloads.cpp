// Evaluation payloads (v1, and v2 which also serves attested evaluations),
// their outcome labels and the evaluation summary.
#include <array>
#include <cstdint>
#include <utility>

#include "base/schema.h"
#include "base/strict_decoders.h"
#include "record/evolution_codec.h"
#include "record/evolution_payloads.h"

namespace quillane {
namespace {

constexpr std::string_view kScored = "scored";
// Every outcome name, in declaration order, for the unknown-variant messages.
constexpr std::array<std::string_view, 3> kOutcomeNames = {"passed", "failed", "scored"};
constexpr std::array<std::string_view, 7> kOutcomeV2Names = {"passed",       "failed", "scored", "blocked",
                                                             "insufficient", "stale",  "not_run"};

Json text_json(const std::string& s) { return Json(s); }

// A signed 64-bit integer. The value is parsed on a copy of the reader so
// that a value of another type is reported by the reader's type error.
Result<std::int64_t> read_i64(JsonReader& r) {
  constexpr std::string_view kType = "i64";
  JsonReader probe = r;
  QL_ASSIGN(Json value, probe.read_value());
  switch (value.type()) {
    case Json::Type::Int:
      r = probe;
      return value.as_int();
    case Json::Type::UInt:
      r = probe;
      if (value.as_uint() <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(value.as_uint());
      return r.error("invalid value: integer `" + std::to_string(value.as_uint()) + "`, expected " + std::string(kType));
    default: return r.invalid_type(kType);
  }
}

// Read as a raw pair, then checked: the value range first, then the scale.
Result<ScoredValue> read_scored_value(JsonReader& r) {
  static constexpr std::array<std::string_view, 2> kFields = {"value", "scale"};
  std::int64_t value = 0;
  std::uint64_t scale = 0;
  FieldSet fields(kFields, FieldSet::first(2));
  QL_TRY(read_fields(r, "struct ScoredValue", fields, [&](std::size_t i) -> Status {
    return i == 0 ? store(value, read_i64(r)) : store(scale, r.read_unsigned(UINT8_MAX, "u8"));
  }));
  if (value < -kMaxScoreValue || value > kMaxScoreValue) return r.error("score value outside the I-JSON safe range");
  if (scale > kMaxScoreScale) return r.error("score scale above 12");
  return ScoredValue{value, static_cast<std::uint8_t>(scale)};
}

Json scored_value_json(const ScoredValue& s) {
  JsonObject o;
  o.reserve(2);
  o.emplace_back("value", Json(s.value));
  o.emplace_back("scale", Json(std::uint64_t{s.scale}));
  return Json(std::move(o));
}

template <typename Plain>
Result<std::variant<Plain, ScoredValue>> read_outcome(JsonReader& r, std::string_view expected,
                                                      std::span<const std::string_view> names) {
  using Outcome = std::variant<Plain, ScoredValue>;
  QL_ASSIGN(std::string name, read_variant_name(r, expected, names, kScored));
  if (name == kScored) {
    QL_ASSIGN(ScoredValue score, read_scored_value(r));
    QL_TRY(close_variant(r));
    return Outcome(score);
  }
  if (auto plain = enum_from_name<Plain>(name)) return Outcome(*plain);
  return unknown_variant<Plain>(r, name);
}

template <typename Plain>
Json outcome_json(const std::variant<Plain, ScoredValue>& outcome) {
  if (const auto* score = std::get_if<ScoredValue>(&outcome)) return variant_json(kScored, scored_value_json(*score));
  return enum_json(std::get<Plain>(outcome));
}

template <typename Plain>
std::string outcome_label(const std::variant<Plain, ScoredValue>& outcome) {
  if (const auto* score = std::get_if<ScoredValue>(&outcome))
    return "scored " + std::to_string(score->value) + "e-" + std::to_string(score->scale);
  return std::string(name_of(std::get<Plain>(outcome)));
}

Result<DeciderBinding> read_decider_binding(JsonReader& r) {
  static constexpr std::array<std::string_view, 4> kFields = {"id", "version", "procedure_hash", "input_hash"};
  DeciderBinding d;
  FieldSet fields(kFields, FieldSet::first(1));
  QL_TRY(read_fields(r, "struct DeciderBinding", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(d.id, read_text(r));
      case 1: return store(d.version, read_optional<std::string>(r, read_text));
      case 2: return store(d.procedure_hash, read_optional<Digest>(r, read_digest));
      default: return store(d.input_hash, read_optional<Digest>(r, read_digest));
    }
  }));
  return d;
}

Json decider_binding_json(const DeciderBinding& d) {
  JsonObject o;
  o.reserve(4);
  o.emplace_back("id", Json(d.id));
  o.emplace_back("version", optional_json(d.version, text_json));
  o.emplace_back("procedure_hash", optional_json(d.procedure_hash, digest_json));
  o.emplace_back("input_hash", optional_json(d.input_hash, digest_json));
  return Json(std::move(o));
}

constexpr std::string_view kEmptyCriterion = "evaluation criterion must be non-empty";

}  // namespace

std::string label(const EvaluationOutcome& outcome) { return outcome_label(outcome); }
std::string label(const EvaluationOutcomeV2& outcome) { return outcome_label(outcome); }

// ---- EvaluationData ----

Result<EvaluationData> read_evaluation_data(JsonReader& r) {
  static constexpr std::array<std::string_view, 4> kFields = {"candidate", "criterion", "procedure", "outcome"};
  EvaluationData v;
  FieldSet fields(kFields, 0b1011);
  QL_TRY(read_fields(r, "struct EvaluationData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.candidate, read_digest(r));
      case 1: return store(v.criterion, read_text(r));
      case 2: return store(v.procedure, read_optional<std::string>(r, read_text));
      default: return store(v.outcome, read_outcome<PlainOutcome>(r, "enum EvaluationOutcome", kOutcomeNames));
    }
  }));
  if (v.criterion.empty()) return r.error(kEmptyCriterion);
  return v;
}

Result<EvaluationData> decode_evaluation_data(std::string_view bytes) {
  return decode_whole(bytes, read_evaluation_data);
}

Json evaluation_data_json(const EvaluationData& v) {
  JsonObject o;
  o.reserve(4);
  o.emplace_back("candidate", digest_json(v.candidate));
  o.emplace_back("criterion", Json(v.criterion));
  o.emplace_back("procedure", optional_json(v.procedure, text_json));
  o.emplace_back("outcome", outcome_json(v.outcome));
  return Json(std::move(o));
}

// ---- EvaluationDataV2 ----

Result<EvaluationDataV2> read_evaluation_data_v2(JsonReader& r) {
  static constexpr std::array<std::string_view, 8> kFields = {
      "candidate", "criterion", "procedure", "outcome", "evaluator", "basis", "evidence", "requirements"};
  EvaluationDataV2 v;
  FieldSet fields(kFields, FieldSet::first(8) & ~std::uint64_t{0b100});
  QL_TRY(read_fields(r, "struct EvaluationDataV2", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.candidate, read_digest(r));
      case 1: return store(v.criterion, read_text(r));
      case 2: return store(v.procedure, read_optional<std::string>(r, read_text));
      case 3:
        return store(v.outcome, read_outcome<PlainOutcomeV2>(r, "enum EvaluationOutcomeV2", kOutcomeV2Names));
      case 4: return store(v.evaluator, read_decider_binding(r));
      case 5: return store(v.basis, read_enum<Basis>(r));
      case 6: return store(v.evidence, read_list<ArtifactRef>(r, read_artifact_ref));
      default: return store(v.requirements, read_list<Digest>(r, read_digest));
    }
  }));
  if (v.criterion.empty()) return r.error(kEmptyCriterion);
  return v;
}

Result<EvaluationDataV2> decode_evaluation_data_v2(std::string_view bytes) {
  return decode_whole(bytes, read_evaluation_data_v2);
}

Json evaluation_data_v2_json(const EvaluationDataV2& v) {
  JsonObject o;
  o.reserve(8);
  o.emplace_back("candidate", digest_json(v.candidate));
  o.emplace_back("criterion", Json(v.criterion));
  o.emplace_back("procedure", optional_json(v.procedure, text_json));
  o.emplace_back("outcome", outcome_json(v.outcome));
  o.emplace_back("evaluator", decider_binding_json(v.evaluator));
  o.emplace_back("basis", enum_json(v.basis));
  o.emplace_back("evidence", list_json(v.evidence, artifact_ref_json));
  o.emplace_back("requirements", list_json(v.requirements, digest_json));
  return Json(std::move(o));
}

// ---- Summary ----

std::optional<EvaluationSummary> evaluation_summary(const Digest& schema, std::string_view payload) {
  static const Digest kV1 = schema_id("quillane.evaluation.v1");
  static const Digest kV2 = schema_id("quillane.evaluation.v2");
  static const Digest kAttested = schema_id("quillane.evaluation.attested.v1");
  if (schema == kV1) {
    auto data = decode_evaluation_data(payload);
    if (!data) return std::nullopt;
    return EvaluationSummary{std::move(data->criterion), data->candidate, label(data->outcome)};
  }
  if (schema == kV2 || schema == kAttested) {
    auto data = decode_evaluation_data_v2(payload);
    if (!data) return std::nullopt;
    return EvaluationSummary{std::move(data->criterion), data->candidate, label(data->outcome)};
  }
  return std::nullopt;
}

}  // namespace quillane
