// Hostile receipts: deep nesting, huge arrays and long reference lists give
// a report quickly, never a crash.
#include <gtest/gtest.h>


#include "receipt/validate.h"
#include "receipt_fixture.h"

namespace quillane {
namespace {

using namespace test;

constexpr std::size_t kDeep = 100'000;

// Validates with the standard limits. (How long that takes is measured by
// bench/receipt_bench, not asserted here.)
Report validate_standard(const std::string& bytes) { return validate_with_limits(bytes, {}); }

std::string nested_arrays(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// A one-record receipt with the value that follows `marker` replaced by `value`.
std::string with_value_at(const std::string& marker, const std::string& value) {
  LogBuilder log;
  log.accepted("quillane.request.v1", request_json());
  std::string text = bytes_of(receipt_of(log));
  const std::size_t at = text.find(marker);
  EXPECT_NE(at, std::string::npos) << marker;
  std::size_t end = at + marker.size();
  // The value after the marker runs to the next comma or closing brace at depth 0.
  int depth = 0;
  for (; end < text.size(); ++end) {
    const char c = text[end];
    if (c == '[' || c == '{') ++depth;
    if (c == ']' || c == '}') {
      if (depth == 0) break;
      --depth;
    }
    if (c == ',' && depth == 0) break;
  }
  return text.substr(0, at + marker.size()) + value + text.substr(end);
}

TEST(ValidationHostile, DeepNestingAnywhere) {
  const std::string deep = nested_arrays(kDeep);
  const std::string cases[] = {
      deep,
      "{\"spec_version\":" + deep + "}",
      with_value_at("\"rules\":", deep),
      with_value_at("\"space\":", deep),
      with_value_at("\"records\":[", deep),
      with_value_at("\"data\":", deep),
      with_value_at("\"data\":[", deep),
      with_value_at("\"refs\":", deep),
      with_value_at("\"author\":{\"id\":", deep),
      "{\"profiles\":[" + deep + "]}",
      "{\"profiles\":[{\"hash\":" + deep + "}]}",
      std::string(kDeep, '{'),
      std::string(kDeep, '['),
  };
  for (const std::string& text : cases) {
    const Report r = validate_standard(text);
    ASSERT_TRUE(r.problem) << text.substr(0, 80);
    EXPECT_EQ(r.problem->rfind("unparseable receipt: ", 0), 0u) << *r.problem;
    EXPECT_EQ(r.status, ValidationStatus::Invalid);
  }
}

// A payload whose bytes spell deep nesting is parsed by the verifier, which
// rejects it; the log that says so is Clean.
TEST(ValidationHostile, DeepNestingInsidePayload) {
  LogBuilder log;
  PendingRecord deep = log.pending("quillane.request.v1", request_json());
  const std::string payload = nested_arrays(kDeep);
  deep.data.assign(payload.begin(), payload.end());
  const auto commit = log.commit(std::move(deep));
  EXPECT_EQ(judgement_name(commit.judgement), "InvalidPayload");
  const Report r = validate_standard(bytes_of(receipt_of(log)));
  EXPECT_EQ(r.status, ValidationStatus::Clean);
  EXPECT_EQ(r.checked_records, 2u);
}

TEST(ValidationHostile, HugeDataArrays) {
  // 60 MiB of array text (30 Mi payload bytes): within the size limit, over
  // the payload limit.
  std::string text = with_value_at("\"data\":", "[0]");
  const std::size_t at = text.find("\"data\":[0") + 9;
  std::string zeros;
  zeros.reserve(60u << 20);
  while (zeros.size() + 2 <= (60u << 20)) zeros += ",0";
  text.insert(at, zeros);
  ASSERT_LE(text.size(), 64u << 20);
  Report r = validate_standard(text);
  EXPECT_EQ(r.problem.value_or(""), "record 0 exceeds payload size limit");

  // 60 Mi payload bytes: over the size limit, refused before parsing.
  text.insert(at, zeros);
  r = validate_standard(text);
  EXPECT_EQ(r.problem.value_or("").rfind("receipt exceeds size limit (", 0), 0u);
  EXPECT_TRUE(r.spec_version.empty());
}

// A payload of exactly the limit is judged by a full replay.
TEST(ValidationHostile, PayloadAtTheLimitIsReplayed) {
  LogBuilder log;
  PendingRecord big = log.pending("quillane.request.v1", request_json());
  big.data.assign(ValidationLimits{}.max_payload_bytes, '1');
  log.commit(std::move(big));
  const std::string bytes = bytes_of(receipt_of(log));
  ASSERT_LE(bytes.size(), ValidationLimits{}.max_receipt_bytes);
  const Report r = validate_standard(bytes);
  EXPECT_FALSE(r.problem) << *r.problem;
  EXPECT_EQ(r.status, ValidationStatus::Clean);
}

// One subject with `count` distinct references to records that do not exist.
Receipt with_refs(std::size_t count) {
  LogBuilder log;
  std::vector<Ref> refs;
  refs.reserve(count);
  for (std::size_t i = 0; i < count; ++i) refs.push_back(use(sha256_utf8("missing " + std::to_string(i))));
  const auto commit = log.commit("quillane.request.v1", request_json(), refs);
  EXPECT_EQ(judgement_name(commit.judgement), "RefUnresolved");
  return receipt_of(log);
}

TEST(ValidationHostile, RefCountLimit) {
  const Report at_limit = validate_standard(bytes_of(with_refs(4'096)));
  EXPECT_FALSE(at_limit.problem) << *at_limit.problem;
  EXPECT_EQ(at_limit.status, ValidationStatus::Clean);
  const Report over = validate_standard(bytes_of(with_refs(4'097)));
  EXPECT_EQ(over.problem.value_or(""), "record 0 exceeds ref-count limit");
}

// As many records with 4,096 resolving references as the size limit
// allows, all resting on one record that is then retracted.
TEST(ValidationHostile, FullReceiptOfMaximalRefLists) {
  LogBuilder log;
  std::vector<Ref> refs;
  for (int i = 0; i < 4'095; ++i)
    refs.push_back(use(log.accepted("quillane.request.v1", request_json("r" + std::to_string(i)))));
  const RecordId first = refs.front().target;
  const RecordId root = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root));
  refs.push_back(use(root));
  const Json eval = evaluation_json(root);
  const std::size_t base = bytes_of(receipt_of(log)).size();
  log.accepted("quillane.evaluation.v1", eval, refs, "provider");
  const std::size_t heavy = bytes_of(receipt_of(log)).size() - base;
  const std::size_t retraction = 2'000;
  for (std::size_t size = base + heavy; size + heavy + retraction <= ValidationLimits{}.max_receipt_bytes; size += heavy)
    log.accepted("quillane.evaluation.v1", eval, refs, "provider");
  log.accepted("quillane.retraction.v1", retraction_json(first), {cause(first)});
  const std::string bytes = bytes_of(receipt_of(log));
  ASSERT_LE(bytes.size(), ValidationLimits{}.max_receipt_bytes);
  const Report r = validate_standard(bytes);
  EXPECT_FALSE(r.problem) << *r.problem;
  EXPECT_EQ(r.status, ValidationStatus::Tainted);
  EXPECT_EQ(r.checked_records, r.record_count);
  EXPECT_GT(r.tainted.size(), 50u);
}

}  // namespace
}  // namespace quillane
