#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/jcs_writer.h"
#include "base/schema.h"
#include "record/evolution_payloads.h"
#include "test_util.h"

namespace quillane {
namespace {

using test::error_of;

Digest filled(std::uint8_t b) {
  Digest d;
  d.fill(b);
  return d;
}

std::string digest_text(int fill, std::size_t n = 32) {
  std::string s = "[";
  for (std::size_t i = 0; i < n; ++i) s += (i ? "," : "") + std::to_string(fill);
  return s + "]";
}

// Writes each "$N" (one digit) as the id of 32 bytes N.
std::string ids(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '$' && i + 1 < text.size()) {
      out += digest_text(text[++i] - '0');
    } else {
      out += text[i];
    }
  }
  return out;
}

// Canonical bytes of a decoded text, or the decoding or encoding error.
template <auto Decode, auto ToJson>
Result<std::string> reencode(std::string_view text) {
  QL_ASSIGN(auto value, Decode(text));
  return canonical_json(ToJson(value));
}

using Reencode = std::function<Result<std::string>(std::string_view)>;
const Reencode kRequest = reencode<decode_request_data, request_data_json>;
const Reencode kRequirement = reencode<decode_requirement_data, requirement_data_json>;
const Reencode kCandidate = reencode<decode_candidate_data, candidate_data_json>;
const Reencode kEvaluation = reencode<decode_evaluation_data, evaluation_data_json>;
const Reencode kEvaluationV2 = reencode<decode_evaluation_data_v2, evaluation_data_v2_json>;
const Reencode kSelection = reencode<decode_selection_data, selection_data_json>;
const Reencode kRetraction = reencode<decode_retraction_data, retraction_data_json>;
const Reencode kVerdict = reencode<decode_verdict_data, verdict_data_json>;

// `value` encodes to exactly `canonical`, and `canonical` decodes back to `value`.
template <typename T, typename Decode, typename ToJson>
void expect_codec(const T& value, const std::string& canonical, Decode decode, ToJson to_json) {
  SCOPED_TRACE(canonical);
  auto bytes = canonical_json(to_json(value));
  ASSERT_TRUE(bytes.ok()) << bytes.error().message;
  EXPECT_EQ(*bytes, canonical);
  auto decoded = decode(canonical);
  ASSERT_TRUE(decoded.ok()) << decoded.error().message;
  EXPECT_TRUE(*decoded == value);
}

// The error of decoding `text`, with " at line 1 column N" checked against
// the end of text or of the given prefix, and stripped.
std::string located_error(const Reencode& decode, const std::string& text, std::size_t column) {
  const std::string message = error_of(decode(text));
  const std::string where = " at line 1 column " + std::to_string(column);
  EXPECT_TRUE(message.ends_with(where)) << message << " (expected" << where << ")";
  return message.ends_with(where) ? message.substr(0, message.size() - where.size()) : message;
}

const std::string kGit = R"({"algo":"sha1","commit":null,"tree":"t"})";

std::string evaluation_v1(const std::string& outcome, const std::string& criterion = "c") {
  return ids(R"({"candidate":$1,"criterion":")" + criterion + R"(","outcome":)" + outcome + R"(,"procedure":null})");
}

std::string evaluation_v2(const std::string& outcome, const std::string& criterion = "c") {
  return ids(R"({"basis":"declared","candidate":$1,"criterion":")" + criterion +
             R"(","evaluator":{"id":"e","input_hash":null,"procedure_hash":null,"version":null},"evidence":[],)"
             R"("outcome":)" + outcome + R"(,"procedure":null,"requirements":[]})");
}

std::string selection(const std::string& outcome, const std::string& objective = "pick") {
  return ids(R"({"considered":[$1],"objective":")" + objective + R"(","outcome":)" + outcome + R"(,"rationale":null})");
}

TEST(EvolutionPayloads, RequestAndRequirementCodec) {
  expect_codec(RequestData{"build it", filled(7), {{"a.txt", "hello"}, {"b", ""}}, filled(2)},
               ids(R"({"attachments":[{"content":"hello","path":"a.txt"},{"content":"","path":"b"}],)"
                   R"("objective":"build it","parent_request_id":$2,"scope":$7})"),
               decode_request_data, request_data_json);
  expect_codec(RequestData{"o", filled(7), {}, std::nullopt},
               ids(R"({"attachments":[],"objective":"o","parent_request_id":null,"scope":$7})"), decode_request_data,
               request_data_json);
  expect_codec(RequirementData{"k", "d", false, "tests pass", Provenance::Derived},
               R"({"description":"d","expected_evidence":"tests pass","key":"k","provenance":"derived","required":false})",
               decode_requirement_data, requirement_data_json);
  expect_codec(RequirementData{"k", "d", true, std::nullopt, Provenance::UserAuthored},
               R"({"description":"d","expected_evidence":null,"key":"k","provenance":"user_authored","required":true})",
               decode_requirement_data, requirement_data_json);
}

TEST(EvolutionPayloads, CandidateCodec) {
  const GitSource git{SourceAlgo::Sha256, "tree", "commit"};
  const ArtifactRef art{"sha256-bytes", "ab", "n"};
  expect_codec(CandidateData{{git, filled(3), BindingMode::Manifest}, CandidateBasis::Continuation, filled(4), "note",
                             std::vector<ArtifactRef>{art}},
               ids(R"({"artifacts":[{"digest":"ab","name":"n","scheme":"sha256-bytes"}],"basis":"continuation",)"
                   R"("note":"note","parent":$4,"source":{"binding":"manifest",)"
                   R"("git":{"algo":"sha256","commit":"commit","tree":"tree"},"manifest_hash":$3}})"),
               decode_candidate_data, candidate_data_json);
  const SourceBinding reported{{SourceAlgo::Sha1, "t", std::nullopt}, std::nullopt, BindingMode::Reported};
  const std::string tail = R"("basis":"derivation","note":null,"parent":null,"source":{"binding":"reported","git":)" +
                           kGit + R"(,"manifest_hash":null}})";
  // Absent artifacts leave the key out; an empty list is written.
  expect_codec(CandidateData{reported, CandidateBasis::Derivation, std::nullopt, std::nullopt, std::nullopt},
               "{" + tail, decode_candidate_data, candidate_data_json);
  expect_codec(CandidateData{reported, CandidateBasis::Derivation, std::nullopt, std::nullopt,
                             std::vector<ArtifactRef>{}},
               R"({"artifacts":[],)" + tail, decode_candidate_data, candidate_data_json);

  // "artifacts": null decodes as absent, so it re-encodes without the key.
  auto with_null = decode_candidate_data(R"({"artifacts":null,)" + tail);
  ASSERT_TRUE(with_null.ok()) << with_null.error().message;
  EXPECT_FALSE(with_null->artifacts.has_value());
  EXPECT_EQ(*canonical_json(candidate_data_json(*with_null)), "{" + tail);
}

TEST(EvolutionPayloads, EvaluationCodec) {
  expect_codec(EvaluationData{filled(1), "c", std::nullopt, ScoredValue{-5, 0}},
               evaluation_v1(R"({"scored":{"scale":0,"value":-5}})"), decode_evaluation_data, evaluation_data_json);
  expect_codec(EvaluationData{filled(1), "c", "p", PlainOutcome::Failed},
               ids(R"({"candidate":$1,"criterion":"c","outcome":"failed","procedure":"p"})"), decode_evaluation_data,
               evaluation_data_json);
  const EvaluationDataV2 v2{filled(1),
                            "c",
                            "proc",
                            ScoredValue{875, 2},
                            DeciderBinding{"eval", "1.0", filled(5), filled(6)},
                            Basis::Recomputed,
                            {ArtifactRef{"git-tree-sha1", "00", std::nullopt}},
                            {filled(8), filled(9)}};
  expect_codec(v2,
               ids(R"({"basis":"recomputed","candidate":$1,"criterion":"c","evaluator":{"id":"eval","input_hash":$6,)"
                   R"("procedure_hash":$5,"version":"1.0"},"evidence":[{"digest":"00","name":null,)"
                   R"("scheme":"git-tree-sha1"}],"outcome":{"scored":{"scale":2,"value":875}},"procedure":"proc",)"
                   R"("requirements":[$8,$9]})"),
               decode_evaluation_data_v2, evaluation_data_v2_json);
  // Every plain v2 outcome travels as its name.
  for (auto outcome : {PlainOutcomeV2::Passed, PlainOutcomeV2::Failed, PlainOutcomeV2::Blocked,
                       PlainOutcomeV2::Insufficient, PlainOutcomeV2::Stale, PlainOutcomeV2::NotRun}) {
    EvaluationDataV2 plain{filled(1), "c", std::nullopt, outcome, DeciderBinding{"e", {}, {}, {}},
                           Basis::Declared, {}, {}};
    expect_codec(plain, evaluation_v2("\"" + std::string(name_of(outcome)) + "\""), decode_evaluation_data_v2,
                 evaluation_data_v2_json);
  }
}

TEST(EvolutionPayloads, SelectionRetractionVerdictCodec) {
  expect_codec(SelectionData{"pick", {filled(1), filled(2)}, SelectionOutcome{std::vector<Digest>{filled(2)}}, "best"},
               ids(R"({"considered":[$1,$2],"objective":"pick","outcome":{"selected":{"candidates":[$2]}},)"
                   R"("rationale":"best"})"),
               decode_selection_data, selection_data_json);
  expect_codec(SelectionData{"pick", {filled(1)}, SelectionOutcome{}, std::nullopt}, selection("\"none\""),
               decode_selection_data, selection_data_json);
  expect_codec(RetractionData{filled(4), "wrong"}, ids(R"({"reason":"wrong","target_id":$4})"),
               decode_retraction_data, retraction_data_json);
  expect_codec(VerdictData{VerdictResult::Accept, std::nullopt}, R"({"reason":null,"result":"Accept"})",
               decode_verdict_data, verdict_data_json);
  expect_codec(VerdictData{VerdictResult::Reject, ReasonCode::RequirementInvalid},
               R"({"reason":"RequirementInvalid","result":"Reject"})", decode_verdict_data, verdict_data_json);
}

TEST(EvolutionPayloads, ShorterInputsDecodeButAreNotCanonical) {
  struct Case {
    const Reencode* codec;
    std::string input;
    std::string canonical;
  };
  const std::vector<Case> cases = {
      // Missing attachments decode as an empty list, which is always written.
      {&kRequest, ids(R"({"objective":"o","parent_request_id":null,"scope":$7})"),
       ids(R"({"attachments":[],"objective":"o","parent_request_id":null,"scope":$7})")},
      // A missing optional key decodes as absent and is written as null.
      {&kRequest, ids(R"({"attachments":[],"objective":"o","scope":$7})"),
       ids(R"({"attachments":[],"objective":"o","parent_request_id":null,"scope":$7})")},
      {&kVerdict, R"({"result":"Accept"})", R"({"reason":null,"result":"Accept"})"},
      // Keys other than candidates inside "selected" are skipped.
      {&kSelection, selection(ids(R"({"selected":{"why":[1,{"x":2}],"candidates":[$1]}})")),
       selection(ids(R"({"selected":{"candidates":[$1]}})"))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    auto bytes = (*c.codec)(c.input);
    ASSERT_TRUE(bytes.ok()) << bytes.error().message;
    EXPECT_EQ(*bytes, c.canonical);
  }
}

TEST(EvolutionPayloads, IdsMustBeArraysOf32Integers) {
  const std::string hex(64, 'a');
  struct Case {
    const Reencode* codec;
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {&kRequest, R"({"objective":"o","scope":")" + hex + R"("})",
       "invalid type: string \"" + hex + "\", expected an array of 32 integers"},
      {&kRetraction, R"({"reason":"r","target_id":)" + digest_text(1, 31) + "}",
       "invalid length 31, expected an array of 32 integers"},
      {&kRetraction, R"({"reason":"r","target_id":)" + digest_text(1, 33) + "}",
       "invalid length 33, expected an array of 32 integers"},
      {&kEvaluation, R"({"candidate":)" + digest_text(256) + "}", "invalid value: integer `256`, expected u8"},
      {&kSelection, R"({"considered":[")" + hex + R"("]})",
       "invalid type: string \"" + hex + "\", expected an array of 32 integers"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_TRUE(error_of((*c.codec)(c.text)).starts_with(c.message + " at line 1 column "));
  }
}

TEST(EvolutionPayloads, FieldErrors) {
  const std::string all = "one of `key`, `description`, `required`, `expected_evidence`, `provenance`";
  const std::string base = R"({"key":"k","description":"d","required":true)";
  struct Case {
    std::string text;
    std::string message;
    std::string located_after;  // the error sits after this text, or at the end when empty
  };
  const std::vector<Case> cases = {
      {base + R"(,"extra":1,"provenance":"derived"})", "unknown field `extra`, expected " + all, R"("extra")"},
      {base + R"(,"provenance":"derived","key":"k"})", "duplicate field `key`", R"("derived","key")"},
      {R"({"key":"k","required":true,"provenance":"derived"})", "missing field `description`", ""},
      {base + R"(,"provenance":"guessed"})", "unknown variant `guessed`, expected `user_authored` or `derived`",
       R"("guessed")"},
  };
  for (const auto& c : cases) {
    const std::size_t column =
        c.located_after.empty() ? c.text.size() : c.text.find(c.located_after) + c.located_after.size();
    EXPECT_EQ(located_error(kRequirement, c.text, column), c.message);
  }
}

TEST(EvolutionPayloads, NonEmptyCriterionAndObjective) {
  // Checked once the whole structure is read, so located at its end.
  struct Case {
    const Reencode* codec;
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {&kEvaluation, evaluation_v1("\"passed\"", ""), "evaluation criterion must be non-empty"},
      {&kEvaluationV2, evaluation_v2("\"stale\"", ""), "evaluation criterion must be non-empty"},
      {&kSelection, selection("\"none\"", ""), "selection objective must be non-empty"},
  };
  for (const auto& c : cases) EXPECT_EQ(located_error(*c.codec, c.text, c.text.size()), c.message);
  // Only the byte length counts: blanks are accepted.
  EXPECT_TRUE(kEvaluation(evaluation_v1("\"passed\"", " ")).ok());
  EXPECT_TRUE(kEvaluationV2(evaluation_v2("\"passed\"", "\\t")).ok());
  EXPECT_TRUE(kSelection(selection("\"none\"", "  ")).ok());
}

TEST(EvolutionScore, RangeChecksAndTypes) {
  struct Case {
    std::string score;  // the object inside "scored"
    std::string message;  // empty when the score decodes
  };
  const std::vector<Case> cases = {
      {R"({"scale":12,"value":9007199254740991})", ""},
      {R"({"scale":0,"value":-9007199254740991})", ""},
      {R"({"scale":12,"value":9007199254740992})", "score value outside the I-JSON safe range"},
      {R"({"value":-9007199254740992,"scale":0})", "score value outside the I-JSON safe range"},
      {R"({"scale":13,"value":0})", "score scale above 12"},
      // Both out of range: the value is checked first.
      {R"({"scale":13,"value":9007199254740992})", "score value outside the I-JSON safe range"},
      {R"({"scale":255,"value":-9223372036854775808})", "score value outside the I-JSON safe range"},
  };
  for (const auto& c : cases) {
    // Both evaluation shapes share the score; errors sit after the score object.
    const std::string outcome = R"({"scored":)" + c.score + "}";
    for (const auto& [codec, text] : {std::pair{&kEvaluation, evaluation_v1(outcome)},
                                      std::pair{&kEvaluationV2, evaluation_v2(outcome)}}) {
      SCOPED_TRACE(text);
      if (c.message.empty()) {
        auto bytes = (*codec)(text);
        ASSERT_TRUE(bytes.ok()) << bytes.error().message;
        EXPECT_NE(bytes->find(R"({"scored":{"scale":)"), std::string::npos);
      } else {
        EXPECT_EQ(located_error(*codec, text, text.find(c.score) + c.score.size()), c.message);
      }
    }
  }
}

TEST(EvolutionScore, WireTypes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"scale":1,"value":1.5})", "invalid type: floating point `1.5`, expected i64"},
      {R"({"scale":1,"value":"5"})", "invalid type: string \"5\", expected i64"},
      {R"({"scale":1,"value":9223372036854775808})", "invalid value: integer `9223372036854775808`, expected i64"},
      {R"({"scale":256,"value":1})", "invalid value: integer `256`, expected u8"},
      {R"({"scale":-1,"value":1})", "invalid value: integer `-1`, expected u8"},
      {R"({"value":1})", "missing field `scale`"},
  };
  for (const auto& [score, message] : cases) {
    const std::string text = evaluation_v1(R"({"scored":)" + score + "}");
    EXPECT_TRUE(error_of(kEvaluation(text)).starts_with(message + " at line")) << error_of(kEvaluation(text));
  }
}

TEST(EvolutionPayloads, VariantShapes) {
  const std::string v1_names = "one of `passed`, `failed`, `scored`";
  struct Case {
    const Reencode* codec;
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {&kEvaluation, evaluation_v1("\"maybe\""), "unknown variant `maybe`, expected " + v1_names},
      // The fail-closed outcomes exist in the extended shape only.
      {&kEvaluation, evaluation_v1("\"stale\""), "unknown variant `stale`, expected " + v1_names},
      {&kEvaluationV2, evaluation_v2("\"maybe\""),
       "unknown variant `maybe`, expected one of `passed`, `failed`, `scored`, `blocked`, `insufficient`, `stale`, "
       "`not_run`"},
      {&kEvaluation, evaluation_v1("\"scored\""), "variant `scored` carries data, expected a one-key object"},
      {&kEvaluation, evaluation_v1(R"({"passed":null})"), "variant `passed` carries no data, expected a string"},
      {&kEvaluation, evaluation_v1("{}"), "invalid length 0, expected a one-key object"},
      {&kEvaluation, evaluation_v1(R"({"scored":{"scale":0,"value":1},"extra":1})"),
       "unexpected key `extra` after the variant, expected a one-key object"},
      {&kEvaluation, evaluation_v1("true"), "invalid type: boolean `true`, expected enum EvaluationOutcome"},
      {&kSelection, selection(R"("selected")"), "variant `selected` carries data, expected a one-key object"},
      {&kSelection, selection(R"({"none":{}})"), "variant `none` carries no data, expected a string"},
      {&kSelection, selection(R"({"selected":{"note":1}})"), "missing field `candidates`"},
      {&kSelection, selection(ids(R"({"selected":{"candidates":[$1],"candidates":[$1]}})")),
       "duplicate field `candidates`"},
      {&kSelection, selection(R"({"selected":[]})"),
       "invalid type: sequence, expected struct variant SelectionOutcome::selected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_TRUE(error_of((*c.codec)(c.text)).starts_with(c.message + " at line 1 column "))
        << error_of((*c.codec)(c.text));
  }
}

TEST(EvolutionLabels, OutcomeLabels) {
  EXPECT_EQ(label(EvaluationOutcome{PlainOutcome::Passed}), "passed");
  EXPECT_EQ(label(EvaluationOutcome{PlainOutcome::Failed}), "failed");
  EXPECT_EQ(label(EvaluationOutcome{ScoredValue{-5, 0}}), "scored -5e-0");
  EXPECT_EQ(label(EvaluationOutcomeV2{ScoredValue{875, 2}}), "scored 875e-2");
  EXPECT_EQ(label(EvaluationOutcomeV2{ScoredValue{kMaxScoreValue, 12}}), "scored 9007199254740991e-12");
  const std::vector<std::pair<PlainOutcomeV2, std::string>> v2 = {
      {PlainOutcomeV2::Passed, "passed"},   {PlainOutcomeV2::Failed, "failed"},
      {PlainOutcomeV2::Blocked, "blocked"}, {PlainOutcomeV2::Insufficient, "insufficient"},
      {PlainOutcomeV2::Stale, "stale"},     {PlainOutcomeV2::NotRun, "not_run"},
  };
  for (const auto& [outcome, text] : v2) EXPECT_EQ(label(EvaluationOutcomeV2{outcome}), text);
}

TEST(EvolutionSummary, BySchema) {
  const Digest v1 = schema_id("quillane.evaluation.v1");
  const Digest v2 = schema_id("quillane.evaluation.v2");
  const Digest attested = schema_id("quillane.evaluation.attested.v1");
  const std::string v1_payload = evaluation_v1(R"({"scored":{"scale":0,"value":-5}})", "tests");
  const std::string v2_payload = evaluation_v2(R"("stale")", "lint");
  const EvaluationSummary v1_summary{"tests", filled(1), "scored -5e-0"};
  const EvaluationSummary v2_summary{"lint", filled(1), "stale"};

  EXPECT_EQ(evaluation_summary(v1, v1_payload), v1_summary);
  EXPECT_EQ(evaluation_summary(v2, v2_payload), v2_summary);
  EXPECT_EQ(evaluation_summary(attested, v2_payload), v2_summary);
  // The schema picks the shape: each shape fails to decode as the other.
  EXPECT_EQ(evaluation_summary(v1, v2_payload), std::nullopt);
  EXPECT_EQ(evaluation_summary(attested, v1_payload), std::nullopt);
  EXPECT_EQ(evaluation_summary(v1, evaluation_v1("\"passed\"", "")), std::nullopt);
  EXPECT_EQ(evaluation_summary(v1, v1_payload + "x"), std::nullopt);
  EXPECT_EQ(evaluation_summary(schema_id("quillane.selection.v1"), v1_payload), std::nullopt);
  EXPECT_EQ(evaluation_summary(Digest{}, v1_payload), std::nullopt);
}

TEST(EvolutionArtifactRefs, WellFormed) {
  const auto hex = [](std::size_t n) { return std::string(n, 'a'); };
  struct Case {
    std::string scheme;
    std::string digest;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"git-tree-sha1", hex(40), true},
      {"git-tree-sha1", hex(64), false},
      {"git-tree-sha256", hex(64), true},
      {"git-tree-sha256", hex(40), false},
      {"manifest-v1", hex(64), true},
      {"git-archive-tar-v1", hex(62), false},
      {"oci-image-manifest", hex(64), true},
      {"sha256-bytes", hex(66), false},
      {"custom", hex(40), true},
      {"custom", hex(128), true},
      {"custom", hex(38), false},
      {"custom", hex(130), false},
      {"custom", hex(41), false},
      {"custom", "", false},
      {"0x.y-z", "0123456789abcdef0123456789abcdef01234567", true},
      {"Git", hex(40), false},
      {".x", hex(40), false},
      {"-x", hex(40), false},
      {"", hex(40), false},
      {"a_b", hex(40), false},
      {"custom", "A" + hex(39), false},
      {"custom", "g" + hex(39), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(artifact_ref_well_formed(ArtifactRef{c.scheme, c.digest, std::nullopt}), c.ok)
        << c.scheme << " " << c.digest.size() << " " << c.digest;
    // The name is never examined.
    EXPECT_EQ(artifact_ref_well_formed(ArtifactRef{c.scheme, c.digest, "Any Name!"}), c.ok);
  }
}

TEST(EvolutionArtifactRefs, ListOrder) {
  const std::string d1(40, '1'), d2(40, '2');
  const ArtifactRef bare{"custom", d1, std::nullopt};
  const ArtifactRef named{"custom", d1, "a"};
  const ArtifactRef named_longer{"custom", d1, "ab"};
  const ArtifactRef later_digest{"custom", d2, std::nullopt};
  const ArtifactRef later_scheme{"customs", d1, std::nullopt};
  const ArtifactRef malformed{"Custom", d1, std::nullopt};
  struct Case {
    std::vector<ArtifactRef> refs;
    bool ok;
  };
  const std::vector<Case> cases = {
      {{}, true},
      {{bare, named}, true},
      {{named, bare}, false},
      {{bare, bare}, false},
      {{named, named_longer}, true},
      {{named_longer, named}, false},
      {{named, later_digest}, true},
      {{later_digest, named}, false},
      {{bare, later_scheme}, true},
      {{later_scheme, bare}, false},
      {{bare, named, named_longer, later_digest, later_scheme}, true},
      {{malformed}, false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(artifact_refs_well_formed(cases[i].refs), cases[i].ok) << "case " << i;
}

}  // namespace
}  // namespace quillane
