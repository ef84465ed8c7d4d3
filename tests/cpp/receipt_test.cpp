// The receipt document: export bytes and the strict parser.
#include <gtest/gtest.h>

#include <regex>

#include "base/jcs_writer.h"
#include "profiles/core_v1.h"
#include "profiles/registry.h"
#include "receipt_fixture.h"
#include "test_util.h"

namespace quillane {
namespace {

using namespace test;

std::string canonical_rules(const VerifierRules& rules) { return *encode_rules_canonical(rules); }

// The same document rebuilt as a value tree and written canonically.
std::string recanonicalized(const std::string& text) {
  JsonReader r(text);
  auto tree = r.read_value();
  EXPECT_TRUE(tree.ok());
  return *canonical_json(*tree);
}

TEST(ReceiptDocument, EmptyLogExport) {
  const VerifierRules rules = test_rules();
  const Receipt receipt = Receipt::make(std::vector<Record>{}, rules);
  EXPECT_EQ(receipt.spec_version, "0.4");
  EXPECT_TRUE(receipt.profiles.empty());
  EXPECT_EQ(bytes_of(receipt), "{\"records\":[],\"rules\":" + canonical_rules(rules) + ",\"spec_version\":\"0.4\"}");
}

TEST(ReceiptDocument, ExportIsCanonicalAndRoundTrips) {
  LogBuilder log;
  sample_line(log);
  const Receipt plain = receipt_of(log);
  const std::string core = std::string(kCoreV1Id);
  auto declared = with_declared_profiles(plain, std::span(&core, 1));
  ASSERT_TRUE(declared.ok());
  for (const Receipt& receipt : {plain, *declared}) {
    const std::string bytes = bytes_of(receipt);
    EXPECT_EQ(bytes, bytes_of(receipt));
    EXPECT_EQ(bytes, recanonicalized(bytes));
    auto parsed = Receipt::from_bytes(bytes);
    ASSERT_TRUE(parsed.ok()) << parsed.error().message;
    EXPECT_EQ(*parsed, receipt);
  }
  const std::string ref = "{\"hash\":" + digest_json_text(profile_ref(kCoreV1Id)->hash) +
                          ",\"id\":\"quillane-core-v1\",\"version\":1}";
  EXPECT_EQ(bytes_of(*declared).rfind("{\"profiles\":[" + ref + "],\"records\":[", 0), 0u);
}

TEST(ReceiptDocument, ProfilesMemberIsOptional) {
  const std::string rules = canonical_rules(test_rules());
  for (const std::string& text :
       {"{\"spec_version\":\"0.4\",\"rules\":" + rules + ",\"records\":[]}",
        " \n{ \"profiles\" : [ ] , \"records\":[],\"rules\":" + rules + ",\"spec_version\":\"0.4\"}\t\n"}) {
    auto parsed = Receipt::from_bytes(text);
    ASSERT_TRUE(parsed.ok()) << parsed.error().message;
    EXPECT_TRUE(parsed->profiles.empty());
    EXPECT_EQ(bytes_of(*parsed).find("profiles"), std::string::npos);
  }
}

TEST(ReceiptDocument, ParseErrors) {
  const std::string rules = canonical_rules(test_rules());
  const std::string body = "\"rules\":" + rules + ",\"records\":[]";
  const std::string hash = digest_text(1);
  auto with_ref = [&](const std::string& ref) {
    return "{\"spec_version\":\"0.4\",\"profiles\":[" + ref + "]," + body + "}";
  };
  struct Case {
    std::string text;
    std::string message;  // regular expression of the whole message
  };
  const std::string at = " at line [0-9]+ column [0-9]+";
  const Case cases[] = {
      {"", "EOF while parsing a value" + at},
      {"{" + body + "}", "missing field `spec_version`" + at},
      {"{\"spec_version\":\"0.4\",\"records\":[]}", "missing field `rules`" + at},
      {"{\"spec_version\":\"0.4\",\"rules\":" + rules + "}", "missing field `records`" + at},
      {"{\"spec_version\":\"0.4\",\"spec_version\":\"0.4\"," + body + "}", "duplicate field `spec_version`" + at},
      {"{\"spec_version\":\"0.4\",\"profiles\":[],\"profiles\":[]," + body + "}",
       "duplicate field `profiles`" + at},
      {"{\"spec_version\":\"0.4\"," + body + ",\"note\":1}",
       "unknown field `note`, expected one of `spec_version`, `profiles`, `rules`, `records`" + at},
      {"{\"spec_version\":\"0.4\"," + body + "} x", ".*" + at},
      {"[\"0.4\",[]," + rules + ",[]]", "invalid type: sequence, expected struct Receipt" + at},
      {"{\"spec_version\":0.4," + body + "}", ".*expected a string" + at},
      {with_ref("{\"id\":\"x\",\"version\":1,\"hash\":\"" + std::string(64, 'a') + "\"}"), ".*" + at},
      {with_ref("{\"id\":\"x\",\"version\":1,\"hash\":" + digest_text(1, 31) + "}"), ".*" + at},
      {with_ref("{\"id\":\"x\",\"version\":1,\"hash\":" + digest_text(1, 33) + "}"), ".*" + at},
      {with_ref("{\"id\":\"x\",\"version\":1,\"hash\":" + digest_text(256) + "}"), ".*" + at},
      {with_ref("{\"id\":\"x\",\"version\":4294967296,\"hash\":" + hash + "}"), ".*" + at},
      {with_ref("{\"id\":\"x\",\"version\":1}"), "missing field `hash`" + at},
      {with_ref("{\"id\":\"x\",\"version\":1,\"hash\":" + hash + ",\"note\":\"\"}"),
       "unknown field `note`, expected one of `id`, `version`, `hash`" + at},
      {with_ref("{\"id\":\"x\",\"id\":\"y\",\"version\":1,\"hash\":" + hash + "}"), "duplicate field `id`" + at},
      {with_ref("[\"x\",1," + hash + "]"), "invalid type: sequence, expected struct ProfileRef" + at},
  };
  for (const Case& c : cases) {
    const std::string message = error_of(Receipt::from_bytes(c.text));
    EXPECT_TRUE(std::regex_match(message, std::regex(c.message))) << message << "\n  for " << c.text;
  }
}

TEST(ReceiptDocument, AnySpecVersionParses) {
  const std::string text =
      "{\"spec_version\":\"0.5\",\"rules\":" + canonical_rules(test_rules()) + ",\"records\":[]}";
  auto parsed = Receipt::from_bytes(text);
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed->spec_version, "0.5");
}

}  // namespace
}  // namespace quillane
