// Validation of receipt bytes: limits and their order, epochs, declarations,
// the status, and the report's text form.
#include <gtest/gtest.h>

#include "base/schema.h"
#include "profiles/core_v1.h"
#include "profiles/registry.h"
#include "receipt/validate.h"
#include "receipt_fixture.h"
#include "record/identity.h"

namespace quillane {
namespace {

using namespace test;

// The sample log's receipt with edits applied before export.
template <typename Edit>
std::string edited_sample(Edit edit) {
  LogBuilder log;
  sample_line(log);
  Receipt receipt = receipt_of(log);
  edit(receipt);
  return bytes_of(receipt);
}

void expect_problem_only(const Report& r) {
  EXPECT_EQ(r.status, ValidationStatus::Invalid);
  EXPECT_TRUE(r.problem.has_value());
  EXPECT_FALSE(r.reason.has_value());
  EXPECT_EQ(r.record_count + r.checked_records + r.last_time, 0u);
  EXPECT_EQ(r.head_hash, Digest{});
  EXPECT_EQ(r.rules_hash, Digest{});
  EXPECT_TRUE(r.retracted.empty() && r.tainted.empty() && r.profiles.empty());
  EXPECT_EQ(r.standing, StandingSection{});
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    out.push_back(text.substr(start, nl - start));
  EXPECT_EQ(start, text.size()) << "the text must end with a line feed";
  return out;
}

TEST(ValidationLimitOrder, ProblemsInTheirOrder) {
  const std::string sample = sample_receipt_bytes();
  const std::uint64_t size = sample.size();
  // The first record whose payload is larger than record 0's.
  const auto records = Receipt::from_bytes(sample)->records;
  const std::uint64_t first_payload = records[0].data.size();
  std::size_t larger = 1;
  while (records[larger].data.size() <= first_payload) ++larger;
  const std::string core = std::string(kCoreV1Id);
  auto declare = [&](std::vector<ProfileRef> refs) {
    return [refs](Receipt& r) { r.profiles = refs; };
  };
  const ProfileRef ref = *profile_ref(kCoreV1Id);
  ProfileRef empty_id = ref;
  empty_id.id.clear();
  ProfileRef other = ref;
  other.id = "other";

  struct Case {
    const char* name;
    std::string bytes;
    ValidationLimits limits;
    std::string problem;
    std::string spec_version;
  };
  const Case cases[] = {
      {"one byte over the size", sample, {size - 1, 1'000'000, 16'777'216, 4'096},
       "receipt exceeds size limit (" + std::to_string(size) + " > " + std::to_string(size - 1) + " bytes)", ""},
      {"size before parsing", "x" + sample, {size, 1, 1, 1},
       "receipt exceeds size limit (" + std::to_string(size + 1) + " > " + std::to_string(size) + " bytes)", ""},
      {"empty bytes", "", {}, "unparseable receipt: EOF while parsing a value at line 1 column 0", ""},
      {"record count before payloads", sample, {size, 9, 0, 0}, "receipt exceeds record limit (10 > 9)", "0.4"},
      {"first offending record", sample, {size, 10, first_payload, 4'096},
       "record " + std::to_string(larger) + " exceeds payload size limit", "0.4"},
      {"payload before refs", sample, {size, 10, 0, 0}, "record 0 exceeds payload size limit", "0.4"},
      {"refs", sample, {size, 10, 16'777'216, 1}, "record 8 exceeds ref-count limit", "0.4"},
      {"limits before the epoch", edited_sample([](Receipt& r) { r.spec_version = "0.5"; }), {size, 9, 1, 1},
       "receipt exceeds record limit (10 > 9)", "0.5"},
      {"unsupported epoch", edited_sample([](Receipt& r) { r.spec_version = "0.5"; }), {},
       "unsupported spec version \"0.5\" (this validator implements \"0.4\" and validates 0.3, 0.4)", "0.5"},
      {"epoch quoted and escaped", edited_sample([&](Receipt& r) { r.spec_version = "0.4\n"; r.profiles = {ref, ref}; }),
       {}, "unsupported spec version \"0.4\\n\" (this validator implements \"0.4\" and validates 0.3, 0.4)", "0.4\n"},
      {"declarations under 0.3", edited_sample([&](Receipt& r) { r.spec_version = "0.3"; r.profiles = {other}; }),
       {}, "profile declarations require spec 0.4 or later (receipt declares \"0.3\")", "0.3"},
      {"empty id", edited_sample(declare({ref, other, empty_id, empty_id})), {},
       "profile declaration 2 has an empty id", "0.4"},
      {"declared twice", edited_sample(declare({ref, other, ref})), {},
       "profile \"quillane-core-v1\" is declared more than once", "0.4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> requested = {core};
    const Report r = validate_with_profiles(c.bytes, c.limits, requested);
    expect_problem_only(r);
    EXPECT_EQ(r.problem.value_or("<none>"), c.problem);
    EXPECT_EQ(r.spec_version, c.spec_version);
  }
}

TEST(ValidationLimitOrder, BoundsAreInclusive) {
  const std::string sample = sample_receipt_bytes();
  LogBuilder log;
  sample_line(log);
  std::uint64_t largest_payload = 0, most_refs = 0;
  for (const Record& r : log.records()) {
    largest_payload = std::max<std::uint64_t>(largest_payload, r.data.size());
    most_refs = std::max<std::uint64_t>(most_refs, r.refs.size());
  }
  const Report r = validate_with_limits(sample, {sample.size(), 10, largest_payload, most_refs});
  EXPECT_FALSE(r.problem) << *r.problem;
  EXPECT_EQ(r.status, ValidationStatus::Clean);
}

TEST(ValidationEpoch, RulesForEpoch) {
  VerifierRules rules = test_rules();
  const Digest custom = sha256_utf8("custom.schema");
  rules.kind_schema_map[custom] = Kind::Request;
  const VerifierRules v03 = rules_for_epoch(rules, "0.3");
  const VerifierRules v04 = rules_for_epoch(rules, "0.4");
  EXPECT_EQ(v03.kind_schema_map.size(), 17u);
  EXPECT_EQ(v04.kind_schema_map, frozen_kind_schema_map());
  EXPECT_TRUE(rules_for_epoch(rules, "0.5").kind_schema_map.empty());
  EXPECT_FALSE(v03.kind_schema_map.contains(schema_id("quillane.requirement.v1")));
  EXPECT_TRUE(v03.kind_schema_map.contains(schema_id("quillane.selection.v1")));
  VerifierRules same = v03;
  same.kind_schema_map = rules.kind_schema_map;
  EXPECT_EQ(same, rules);
}

TEST(ValidationEpoch, RequirementSchemaOnlyFromEpoch04) {
  LogBuilder log;
  const RecordId request = log.accepted("quillane.request.v1", request_json());
  log.accepted("quillane.requirement.v1", requirement_json("fast"), {cause(request)});
  Receipt receipt = receipt_of(log);
  const Digest rules_digest = *rules_hash(receipt.rules);

  const Report v04 = validate_with_limits(bytes_of(receipt), {});
  EXPECT_EQ(v04.status, ValidationStatus::Clean);
  receipt.spec_version = "0.3";
  const Report v03 = validate_with_limits(bytes_of(receipt), {});
  EXPECT_EQ(v03.status, ValidationStatus::Invalid);
  EXPECT_EQ(v03.reason, ReasonCode::UnknownSchema);
  EXPECT_FALSE(v03.problem);
  EXPECT_EQ(v03.checked_records, 2u);
  EXPECT_EQ(v03.spec_version, "0.3");
  // The rules hash is that of the receipt's own rules, not the epoch copy.
  EXPECT_EQ(v03.rules_hash, rules_digest);
  EXPECT_EQ(v04.rules_hash, rules_digest);
}

TEST(ValidationOutcome, CleanTaintedInvalid) {
  const Report empty = validate_with_limits(bytes_of(Receipt::make(std::vector<Record>{}, test_rules())), {});
  EXPECT_EQ(empty.status, ValidationStatus::Clean);
  EXPECT_EQ(empty.record_count + empty.checked_records + empty.last_time, 0u);
  EXPECT_EQ(empty.head_hash, sha256(std::string_view()));
  EXPECT_EQ(empty.rules_hash, *rules_hash(test_rules()));

  LogBuilder log;
  const SampleLine l = sample_line(log);
  log.accepted("quillane.retraction.v1", retraction_json(l.manifest), {cause(l.manifest)}, "provider");
  const std::vector<Record> records = log.records();
  const Report tainted = validate_with_limits(bytes_of(receipt_of(log)), {});
  EXPECT_EQ(tainted.status, ValidationStatus::Tainted);
  EXPECT_EQ(tainted.retracted, std::set<RecordId>{l.manifest});
  EXPECT_FALSE(tainted.reason || tainted.problem);
  EXPECT_EQ(tainted.record_count, records.size());
  EXPECT_EQ(tainted.checked_records, records.size());
  EXPECT_EQ(tainted.last_time, records.size());
  std::vector<Digest> ids;
  for (const Record& r : records) ids.push_back(r.id);
  EXPECT_EQ(tainted.head_hash, sha256_concat_ids(ids));

  // A Verdict that disagrees with the verifier: Invalid with the reason, no problem.
  Receipt forged = receipt_of(log);
  forged.records[3] = *materialize_verdict(forged.records[2], 4, Judgement(ReasonCode::LineageInvalid));
  const Report invalid = validate_with_limits(bytes_of(forged), {});
  EXPECT_EQ(invalid.status, ValidationStatus::Invalid);
  EXPECT_EQ(invalid.reason, ReasonCode::InvalidPayload);
  EXPECT_FALSE(invalid.problem);
  EXPECT_EQ(invalid.checked_records, 2u);
  EXPECT_EQ(invalid.record_count, records.size());
  EXPECT_TRUE(invalid.retracted.empty());
}

TEST(ValidationProfiles, DeclaredThenRequested) {
  const std::string core = std::string(kCoreV1Id);
  LogBuilder log;
  sample_line(log);
  const std::string bytes = bytes_of(*with_declared_profiles(receipt_of(log), std::span(&core, 1)));
  const std::vector<std::string> requested = {"nope", core, "nope"};

  const Report declared_only = validate_with_limits(bytes, {});
  ASSERT_EQ(declared_only.profiles.size(), 1u);
  EXPECT_TRUE(declared_only.profiles[0].declared);
  EXPECT_EQ(declared_only.profiles[0].declaration_matches, true);

  const Report with_requested = validate_with_profiles(bytes, {}, requested);
  ASSERT_EQ(with_requested.profiles.size(), 2u);
  EXPECT_EQ(with_requested.profiles[0], declared_only.profiles[0]);
  EXPECT_EQ(with_requested.profiles[1].id, "nope");
  EXPECT_EQ(with_requested.profiles[1].status, ProfileStatus::Unknown);
  Report without = with_requested;
  without.profiles.resize(1);
  EXPECT_EQ(without, declared_only);
  EXPECT_EQ(validate_with_profiles(bytes, {}, {}), declared_only);
}

TEST(ValidationReportText, CleanReportIsSevenLines) {
  const Report r = validate_with_limits(bytes_of(Receipt::make(std::vector<Record>{}, test_rules())), {});
  EXPECT_EQ(report_text(r), "status:          CLEAN\n"
                            "spec version:    0.4\n"
                            "records:         0\n"
                            "checked:         0\n"
                            "last time:       0\n"
                            "head hash:       e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n"
                            "rules hash:      " + hex_encode(*rules_hash(test_rules())) + "\n");
}

TEST(ValidationReportText, ProblemAndReason) {
  const std::string zeros(64, '0');
  const std::string tail = "head hash:       " + zeros + "\nrules hash:      " + zeros + "\n";
  EXPECT_EQ(report_text(validate_with_limits("", {})),
            "status:          INVALID\n"
            "problem:         unparseable receipt: EOF while parsing a value at line 1 column 0\n"
            "spec version:    \n"
            "records:         0\nchecked:         0\nlast time:       0\n" + tail);
  Report rejected;
  rejected.reason = ReasonCode::SelectionInvalid;
  rejected.spec_version = "0.3";
  rejected.record_count = 4;
  rejected.checked_records = 2;
  rejected.last_time = 4;
  EXPECT_EQ(report_text(rejected), "status:          INVALID\n"
                                   "reject reason:   SelectionInvalid\n"
                                   "spec version:    0.3\n"
                                   "records:         4\nchecked:         2\nlast time:       4\n" + tail);
}

// A replayed log with a retraction, an unsound selection and its restoration;
// the empty compromised block is left out.
TEST(ValidationReportText, ReplayedStanding) {
  LogBuilder log;
  const SampleLine l = sample_line(log);
  const Restoration r = restore_after_retraction(log, l);
  const Report report = validate_with_limits(bytes_of(receipt_of(log)), {});
  const std::string text = report_text(report);
  const std::string blocks = "retracted (1):\n  " + hex_encode(l.eval) + "\n" +
                             "tainted (1):\n  " + hex_encode(l.selection) + "\n" +
                             "unsound selections (1):\n  " + hex_encode(l.selection) + "\n" +
                             "restorations (1):\n  " + hex_encode(l.selection) + " <- \n    " +
                             hex_encode(r.reaffirmation) + "\n";
  EXPECT_EQ(text.substr(0, 24), "status:          TAINTED");
  ASSERT_GE(text.size(), blocks.size());
  EXPECT_EQ(text.substr(text.size() - blocks.size()), blocks);
}

TEST(ValidationReportText, BlocksAndProfiles) {
  auto id = [](int n) { return sha256_utf8("id " + std::to_string(n)); };
  auto h = [&](int n) { return hex_encode(id(n)); };
  Report r;
  r.status = ValidationStatus::Tainted;
  r.spec_version = "0.4";
  r.record_count = r.checked_records = r.last_time = 12;
  r.retracted = {id(1)};
  r.tainted = {id(2), id(3)};
  // Only the non-empty standing blocks are written.
  r.standing.unsound = {id(4)};
  r.standing.restorations = {{id(4), {id(5), id(6)}}};
  ProfileResult matching;
  matching.id = "quillane-core-v1";
  matching.hash = id(7);
  matching.declared = true;
  matching.declaration_matches = true;
  matching.status = ProfileStatus::NonConformant;
  matching.clauses = {{"B1", true, "status Tainted"}, {"B2", false, "0 registered author role(s)"}};
  ProfileResult mismatch = matching;
  mismatch.declaration_matches = false;
  mismatch.status = ProfileStatus::Conformant;
  mismatch.clauses.resize(1);
  ProfileResult unknown_declared;
  unknown_declared.id = "x";
  unknown_declared.declared = true;
  ProfileResult required = mismatch;
  required.declared = false;
  required.declaration_matches.reset();
  ProfileResult unknown_required;
  unknown_required.id = "";
  r.profiles = {matching, mismatch, unknown_declared, required, unknown_required};

  const auto ascending = [&](int a, int b) {
    return id(a) < id(b) ? "  " + h(a) + "\n  " + h(b) + "\n" : "  " + h(b) + "\n  " + h(a) + "\n";
  };
  const std::string restorers = id(5) < id(6) ? "    " + h(5) + "\n    " + h(6) + "\n"
                                              : "    " + h(6) + "\n    " + h(5) + "\n";
  const std::string expected =
      "status:          TAINTED\n"
      "spec version:    0.4\n"
      "records:         12\nchecked:         12\nlast time:       12\n"
      "head hash:       " + std::string(64, '0') + "\n"
      "rules hash:      " + std::string(64, '0') + "\n"
      "retracted (1):\n  " + h(1) + "\n"
      "tainted (2):\n" + ascending(2, 3) +
      "unsound selections (1):\n  " + h(4) + "\n"
      "restorations (1):\n  " + h(4) + " <- \n" + restorers +
      "profile quillane-core-v1: NON-CONFORMANT (declared, declaration matches)\n"
      "  hash:          " + h(7) + "\n"
      "  ok   B1: status Tainted\n"
      "  FAIL B2: 0 registered author role(s)\n"
      "profile quillane-core-v1: CONFORMANT (declared, DECLARATION MISMATCH)\n"
      "  hash:          " + h(7) + "\n"
      "  ok   B1: status Tainted\n"
      "profile x: UNKNOWN (declared)\n"
      "profile quillane-core-v1: CONFORMANT (required)\n"
      "  hash:          " + h(7) + "\n"
      "  ok   B1: status Tainted\n"
      "profile : UNKNOWN (required)\n";
  EXPECT_EQ(report_text(r), expected);

  r.standing = {};
  r.standing.compromised = {id(8)};
  const auto lines = lines_of(report_text(r));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "standing-compromised (1):"), 1);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& s) { return s.find("(0)") != std::string::npos; }),
            0);
}

}  // namespace
}  // namespace quillane

namespace quillane {
namespace {

// Values taken from a receipt cannot add lines to the report text.
TEST(ValidationReportText, ForeignTextStaysOnItsLine) {
  Report report;
  report.spec_version = "0.4\nstatus:          CLEAN";
  report.problem = "bad\r\x1b[2Jkey\xe2\x80\xa8x\xc2\x85y";
  ProfileResult p;
  p.id = "x\nprofile quillane-core-v1: CONFORMANT";
  report.profiles.push_back(p);
  const std::string text = report_text(report);
  EXPECT_NE(text.find("spec version:    0.4\\u{a}status:          CLEAN\n"), std::string::npos);
  EXPECT_NE(text.find("problem:         bad\\u{d}\\u{1b}[2Jkey\\u{2028}x\\u{85}y\n"), std::string::npos);
  EXPECT_NE(text.find("profile x\\u{a}profile quillane-core-v1: CONFORMANT: UNKNOWN"), std::string::npos);
  std::size_t lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 9u);  // status, problem, spec version, five counts and hashes, the profile
}

}  // namespace
}  // namespace quillane
