// Selection payload: a choice over candidates, or "none".
#include <array>
#include <utility>

#include "base/strict_decoders.h"
#include "record/evolution_codec.h"
#include "record/evolution_payloads.h"

namespace quillane {
namespace {

constexpr std::string_view kSelected = "selected";
constexpr std::array<std::string_view, 2> kOutcomeNames = {"none", "selected"};

Json text_json(const std::string& s) { return Json(s); }

// The object inside "selected": `candidates` is required and may appear once;
// other keys are skipped (such a payload is not canonical, and the verifier
// refuses it on re-encoding).
Result<std::vector<Digest>> read_selected(JsonReader& r) {
  QL_TRY(r.begin_object("struct variant SelectionOutcome::selected"));
  std::optional<std::vector<Digest>> candidates;
  JsonReader::Cursor cursor;
  for (;;) {
    QL_ASSIGN(auto key, r.next_key(cursor));
    if (!key) break;
    const bool is_candidates = *key == "candidates";
    if (is_candidates && candidates) return r.error("duplicate field `candidates`");
    QL_TRY(r.colon());
    if (!is_candidates) {
      QL_TRY(r.skip_value());
      continue;
    }
    QL_ASSIGN(candidates, read_list<Digest>(r, read_digest));
  }
  if (!candidates) return r.error("missing field `candidates`");
  return std::move(*candidates);
}

Result<SelectionOutcome> read_selection_outcome(JsonReader& r) {
  QL_ASSIGN(std::string name, read_variant_name(r, "enum SelectionOutcome", kOutcomeNames, kSelected));
  if (name != kSelected) return SelectionOutcome{};
  QL_ASSIGN(std::vector<Digest> candidates, read_selected(r));
  QL_TRY(close_variant(r));
  return SelectionOutcome{std::move(candidates)};
}

Json selection_outcome_json(const SelectionOutcome& outcome) {
  if (!outcome.selected) return Json("none");
  JsonObject inner;
  inner.emplace_back("candidates", list_json(*outcome.selected, digest_json));
  return variant_json(kSelected, Json(std::move(inner)));
}

}  // namespace

Result<SelectionData> read_selection_data(JsonReader& r) {
  static constexpr std::array<std::string_view, 4> kFields = {"objective", "considered", "outcome", "rationale"};
  SelectionData v;
  FieldSet fields(kFields, FieldSet::first(3));
  QL_TRY(read_fields(r, "struct SelectionData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.objective, read_text(r));
      case 1: return store(v.considered, read_list<Digest>(r, read_digest));
      case 2: return store(v.outcome, read_selection_outcome(r));
      default: return store(v.rationale, read_optional<std::string>(r, read_text));
    }
  }));
  if (v.objective.empty()) return r.error("selection objective must be non-empty");
  return v;
}

Result<SelectionData> decode_selection_data(std::string_view bytes) { return decode_whole(bytes, read_selection_data); }

Json selection_data_json(const SelectionData& v) {
  JsonObject o;
  o.reserve(4);
  o.emplace_back("objective", Json(v.objective));
  o.emplace_back("considered", list_json(v.considered, digest_json));
  o.emplace_back("outcome", selection_outcome_json(v.outcome));
  o.emplace_back("rationale", optional_json(v.rationale, text_json));
  return Json(std::move(o));
}

}  // namespace quillane
