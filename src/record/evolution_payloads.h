// Payloads of the evolution kinds (Request, Requirement, Candidate,
// Evaluation, Selection, Retraction) and of the Verdict record, with their
// strict decoders and value trees. A record's data bytes are
// canonical_json(x_json(payload)).
//
// Decoding of a whole payload text is decode_x; read_x reads the value at the
// reader's position. Evaluation and Selection payloads are also checked after
// reading (non-empty criterion or objective, score in range); a failed check
// is a decode error located after the structure that failed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/digest.h"
#include "base/json_reader.h"
#include "base/json_value.h"
#include "base/result.h"
#include "record/artifact_ref.h"
#include "record/enums.h"
#include "record/evolution_enums.h"

namespace quillane {

// ---- Request and Requirement ----

struct Attachment {
  std::string path;
  std::string content;

  bool operator==(const Attachment&) const = default;
};

struct RequestData {
  std::string objective;
  Digest scope{};
  // May be missing on input; always written.
  std::vector<Attachment> attachments;
  std::optional<Digest> parent_request_id;

  bool operator==(const RequestData&) const = default;
};

struct RequirementData {
  std::string key;
  std::string description;
  bool required = true;
  std::optional<std::string> expected_evidence;
  Provenance provenance = Provenance::UserAuthored;

  bool operator==(const RequirementData&) const = default;
};

// ---- Candidate ----

struct GitSource {
  SourceAlgo algo = SourceAlgo::Sha1;
  std::string tree;
  std::optional<std::string> commit;

  bool operator==(const GitSource&) const = default;
};

struct SourceBinding {
  GitSource git;
  std::optional<Digest> manifest_hash;
  BindingMode binding = BindingMode::Reported;

  bool operator==(const SourceBinding&) const = default;
};

struct CandidateData {
  SourceBinding source;
  CandidateBasis basis = CandidateBasis::Root;
  std::optional<Digest> parent;
  std::optional<std::string> note;
  // When absent the key is left out of the encoding.
  std::optional<std::vector<ArtifactRef>> artifacts;

  bool operator==(const CandidateData&) const = default;
};

// ---- Evaluation ----

// The score value x 10^-scale. Decoding keeps value within +-(2^53 - 1) and
// scale at most 12.
struct ScoredValue {
  std::int64_t value = 0;
  std::uint8_t scale = 0;

  bool operator==(const ScoredValue&) const = default;
};

inline constexpr std::int64_t kMaxScoreValue = 9007199254740991;
inline constexpr std::uint8_t kMaxScoreScale = 12;

// "passed", "failed" or {"scored": ScoredValue}.
using EvaluationOutcome = std::variant<PlainOutcome, ScoredValue>;
// Adds the fail-closed "blocked", "insufficient", "stale" and "not_run".
using EvaluationOutcomeV2 = std::variant<PlainOutcomeV2, ScoredValue>;

struct EvaluationData {
  Digest candidate{};
  std::string criterion;
  std::optional<std::string> procedure;
  EvaluationOutcome outcome;

  bool operator==(const EvaluationData&) const = default;
};

// Who decided an evaluation.
struct DeciderBinding {
  std::string id;
  std::optional<std::string> version;
  std::optional<Digest> procedure_hash;
  std::optional<Digest> input_hash;

  bool operator==(const DeciderBinding&) const = default;
};

// The extended evaluation, also the payload of an attested evaluation.
struct EvaluationDataV2 {
  Digest candidate{};
  std::string criterion;
  std::optional<std::string> procedure;
  EvaluationOutcomeV2 outcome;
  DeciderBinding evaluator;
  Basis basis = Basis::Recomputed;
  std::vector<ArtifactRef> evidence;
  std::vector<Digest> requirements;

  bool operator==(const EvaluationDataV2&) const = default;
};

// "passed", "failed", "blocked", "insufficient", "stale", "not_run", or
// "scored {value}e-{scale}".
std::string label(const EvaluationOutcome& outcome);
std::string label(const EvaluationOutcomeV2& outcome);

struct EvaluationSummary {
  std::string criterion;
  Digest candidate{};
  std::string label;

  bool operator==(const EvaluationSummary&) const = default;
};

// The criterion, candidate and outcome label of an evaluation payload under
// any of the three evaluation schemas; nothing for another schema or for
// bytes that do not decode.
std::optional<EvaluationSummary> evaluation_summary(const Digest& schema, std::string_view payload);

// ---- Selection, Retraction, Verdict ----

// "none" when nothing is selected, else {"selected": {"candidates": [...]}}.
struct SelectionOutcome {
  std::optional<std::vector<Digest>> selected;

  bool operator==(const SelectionOutcome&) const = default;
};

struct SelectionData {
  std::string objective;
  std::vector<Digest> considered;
  SelectionOutcome outcome;
  std::optional<std::string> rationale;

  bool operator==(const SelectionData&) const = default;
};

struct RetractionData {
  Digest target_id{};
  std::string reason;

  bool operator==(const RetractionData&) const = default;
};

struct VerdictData {
  VerdictResult result = VerdictResult::Accept;
  std::optional<ReasonCode> reason;

  bool operator==(const VerdictData&) const = default;
};

// ---- Decoding and encoding ----

Result<RequestData> read_request_data(JsonReader& r);
Result<RequestData> decode_request_data(std::string_view bytes);
Json request_data_json(const RequestData& v);

Result<RequirementData> read_requirement_data(JsonReader& r);
Result<RequirementData> decode_requirement_data(std::string_view bytes);
Json requirement_data_json(const RequirementData& v);

Result<CandidateData> read_candidate_data(JsonReader& r);
Result<CandidateData> decode_candidate_data(std::string_view bytes);
Json candidate_data_json(const CandidateData& v);

Result<EvaluationData> read_evaluation_data(JsonReader& r);
Result<EvaluationData> decode_evaluation_data(std::string_view bytes);
Json evaluation_data_json(const EvaluationData& v);

Result<EvaluationDataV2> read_evaluation_data_v2(JsonReader& r);
Result<EvaluationDataV2> decode_evaluation_data_v2(std::string_view bytes);
Json evaluation_data_v2_json(const EvaluationDataV2& v);

Result<SelectionData> read_selection_data(JsonReader& r);
Result<SelectionData> decode_selection_data(std::string_view bytes);
Json selection_data_json(const SelectionData& v);

Result<RetractionData> read_retraction_data(JsonReader& r);
Result<RetractionData> decode_retraction_data(std::string_view bytes);
Json retraction_data_json(const RetractionData& v);

Result<VerdictData> read_verdict_data(JsonReader& r);
Result<VerdictData> decode_verdict_data(std::string_view bytes);
Json verdict_data_json(const VerdictData& v);

}  // namespace quillane
