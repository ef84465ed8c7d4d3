#include <gtest/gtest.h>

#include "base/jcs_writer.h"
#include "base/schema.h"
#include "test_util.h"
#include "verify/rules.h"

namespace quillane {
namespace {

using test::error_of;

std::string digest_text(int fill, std::size_t n = 32) {
  std::string s = "[";
  for (std::size_t i = 0; i < n; ++i) s += (i ? "," : "") + std::to_string(fill);
  return s + "]";
}

// The nine required fields, with `extra` appended inside the object.
std::string minimal_rules(const std::string& extra = "", const std::string& space = digest_text(7)) {
  return "{\"space\":" + space + ",\"kind_schema_map\":[],\"signature_required_kinds\":[],\"author_keys\":{},"
         "\"author_roles\":{},\"admin_retraction_actors\":[],\"allowed_summary_types\":[],"
         "\"evidence_thresholds\":{},\"max_context_records\":5" + extra + "}";
}

TEST(Rules, RequiredFieldsAndDefaults) {
  auto rules = decode_rules(minimal_rules());
  ASSERT_TRUE(rules.ok()) << rules.error().message;
  EXPECT_EQ(rules->min_binding, BindingMode::Reported);
  EXPECT_TRUE(rules->selection_requires_evaluation);
  EXPECT_TRUE(rules->reaffirmation_actors.empty());
  EXPECT_EQ(rules->max_considered, 4096u);
  EXPECT_FALSE(rules->selection_requires_approval);
  EXPECT_FALSE(rules->reject_compromised_continuation);
  auto canonical = encode_rules_canonical(*rules);
  ASSERT_TRUE(canonical.ok());
  EXPECT_EQ(*canonical, "{\"admin_retraction_actors\":[],\"allowed_summary_types\":[],\"author_keys\":{},"
                        "\"author_roles\":{},\"evidence_thresholds\":{},\"kind_schema_map\":[],"
                        "\"max_considered\":4096,\"max_context_records\":5,\"min_binding\":\"reported\","
                        "\"reaffirmation_actors\":[],\"reject_compromised_continuation\":false,"
                        "\"selection_requires_approval\":false,\"selection_requires_evaluation\":true,"
                        "\"signature_required_kinds\":[],\"space\":" + digest_text(7) + "}");
}

TEST(Rules, HashIgnoresKeyOrderAndWhitespace) {
  VerifierRules base = VerifierRules::make(sha256_utf8("s"), 200).with_baseline_thresholds();
  base.author_roles["alice"] = AuthorType::User;
  base.signature_required_kinds = {Kind::Selection, Kind::Candidate};
  auto plain = encode_rules_plain(base);
  auto canonical = encode_rules_canonical(base);
  ASSERT_TRUE(plain.ok() && canonical.ok());
  EXPECT_NE(*plain, *canonical);
  // Whitespace added after every comma.
  std::string spaced;
  for (char c : *plain) {
    spaced += c;
    if (c == ',') spaced += "\n ";
  }
  for (const std::string& text : {*plain, *canonical, spaced}) {
    auto decoded = decode_rules(text);
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    EXPECT_EQ(*decoded, base);
    EXPECT_EQ(*rules_hash(*decoded), sha256(*canonical));
    EXPECT_EQ(*encode_rules_plain(*decoded), *plain);
  }
}

TEST(Rules, BaselineEncoding) {
  auto rules = VerifierRules::make(Digest{}, 200).with_baseline_thresholds();
  EXPECT_EQ(rules.kind_schema_map.size(), 20u);
  EXPECT_EQ(rules.kind_schema_map.at(schema_id("quillane.evaluation.v2")), Kind::Evaluation);
  auto json = rules_json(rules);
  EXPECT_EQ(*canonical_json(*json.find("evidence_thresholds")),
            R"({"Candidate":"Reported","Evaluation":"Reported","Selection":"Inferred"})");
  EXPECT_EQ(json.find("kind_schema_map")->as_array().size(), 20u);
}

TEST(Rules, DecodeErrors) {
  const std::string all_fields =
      "`space`, `kind_schema_map`, `signature_required_kinds`, `author_keys`, `author_roles`, "
      "`admin_retraction_actors`, `allowed_summary_types`, `evidence_thresholds`, `max_context_records`, "
      "`min_binding`, `selection_requires_evaluation`, `reaffirmation_actors`, `max_considered`, "
      "`selection_requires_approval`, `reject_compromised_continuation`";
  struct Case {
    std::string text;
    std::string error;  // message without its position
  };
  const Case cases[] = {
      {minimal_rules(",\"comment\":1"), "unknown field `comment`, expected one of " + all_fields},
      {minimal_rules(",\"max_context_records\":5"), "duplicate field `max_context_records`"},
      {"{\"space\":" + digest_text(1) + "}", "missing field `kind_schema_map`"},
      {minimal_rules("", "\"" + std::string(64, 'a') + "\""),
       "invalid type: string \"" + std::string(64, 'a') + "\", expected an array of 32 integers"},
      {minimal_rules("", digest_text(1, 31)), "invalid length 31, expected an array of 32 integers"},
      {minimal_rules("", digest_text(1, 33)), "invalid length 33, expected an array of 32 integers"},
      {minimal_rules("", digest_text(256, 1)), "invalid value: integer `256`, expected u8"},
      {minimal_rules(",\"signature_required_kinds\":[]"), "duplicate field `signature_required_kinds`"},
      {minimal_rules(",\"reaffirmation_actors\":[\"a\",\"a\"]"), "duplicate set member"},
      {minimal_rules(",\"min_binding\":\"Manifest\""),
       "unknown variant `Manifest`, expected `reported` or `manifest`"},
      {minimal_rules(",\"max_considered\":4294967296"), "invalid value: integer `4294967296`, expected u32"},
      {minimal_rules(",\"selection_requires_approval\":1"), "invalid type: integer `1`, expected a boolean"},
      {"[]", "invalid type: sequence, expected struct VerifierRules"},
      {minimal_rules() + " {}", "trailing characters"},
  };
  for (const auto& c : cases) {
    const std::string error = error_of(decode_rules(c.text));
    EXPECT_EQ(error.substr(0, error.rfind(" at line ")), c.error) << c.text;
  }
}

TEST(Rules, ContainerFieldErrors) {
  auto with_field = [](const std::string& name, const std::string& value) {
    // Every container field of the minimal rules starts empty: [] or {}.
    std::string text = minimal_rules();
    const std::string key = "\"" + name + "\":";
    const auto start = text.find(key) + key.size();
    return text.replace(start, 2, value);
  };
  struct Case {
    std::string name, value, error;
  };
  const std::string key = digest_text(3);
  const Case cases[] = {
      {"signature_required_kinds", R"(["Candidate","Candidate"])", "duplicate set member"},
      {"evidence_thresholds", R"({"Candidate":"Reported","Candidate":"Reported"})", "duplicate map key"},
      {"evidence_thresholds", R"({"candidate":"Reported"})", "unknown variant `candidate`"},
      {"kind_schema_map", "[[" + key + ",\"Plan\"],[" + key + ",\"Request\"]]", "duplicate key in pair-encoded map"},
      {"author_keys", "{\"a\":[" + key + "," + key + "]}", "duplicate key for author"},
      {"author_keys", "{\"a\":[],\"a\":[]}", "duplicate author in author_keys"},
      {"author_keys", "[]", "invalid type: sequence, expected an actor-key object with unique actors and keys"},
      {"author_roles", R"({"a":"User","a":"System"})", "duplicate map key"},
  };
  for (const auto& c : cases) {
    const std::string error = error_of(decode_rules(with_field(c.name, c.value)));
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.name << " " << c.value << " -> " << error;
  }
  auto set = decode_rules(with_field("signature_required_kinds", R"(["Selection","Candidate"])"));
  ASSERT_TRUE(set.ok());
  auto encoded = canonical_json(*rules_json(*set).find("signature_required_kinds"));
  EXPECT_EQ(*encoded, R"(["Candidate","Selection"])");
  auto empty_keys = decode_rules(with_field("author_keys", R"({"a":[]})"));
  ASSERT_TRUE(empty_keys.ok());
  EXPECT_TRUE(empty_keys->author_keys.at("a").empty());
}

TEST(Rules, DuplicateErrorsPointAtTheDuplicate) {
  const std::string text = minimal_rules(",\n\"min_binding\":\"manifest\",\"min_binding\":\"reported\"");
  const std::string error = error_of(decode_rules(text));
  EXPECT_EQ(error, "duplicate field `min_binding` at line 2 column 38");
}

}  // namespace
}  // namespace quillane
