// The log writer: logical time, the lock, recovery at open, what a commit
// refuses, rejected subjects, the poisoned state, limits.
#include <gtest/gtest.h>

#include "log/storage/commit_intent.h"
#include "log_fault_fs.h"
#include "log_test_support.h"
#include "record/evolution_payloads.h"
#include "record/signing.h"

namespace quillane {
namespace {

using namespace test;

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

std::string file_of(const ScratchDir& scratch) { return read_file((scratch / "records.log").string()); }

VerdictData verdict_of(const Record& verdict) {
  auto data = decode_verdict_data(verdict.payload_json());
  EXPECT_TRUE(data.ok());
  return data.ok() ? *data : VerdictData{};
}

TEST(LogWriterTime, RecordsTakeTheirPositions) {
  ScratchDir scratch;
  Session s;
  ASSERT_TRUE(s.open(scratch.path()).ok());
  EXPECT_EQ(s.writer->next_time(), 1u);
  for (int k = 0; k < 2; ++k) {
    auto outcome = s.commit(request("objective " + std::to_string(k)));
    ASSERT_TRUE(outcome.ok()) << log_error_of(outcome);
    EXPECT_EQ(outcome->result, VerdictResult::Accept);
    EXPECT_EQ(s.writer->records()[2 * k].id, outcome->id);
    EXPECT_FALSE(std::filesystem::exists(scratch / ".intent"));
  }
  std::vector<std::uint64_t> times;
  for (const Record& r : s.writer->records()) times.push_back(r.time);
  EXPECT_EQ(times, (std::vector<std::uint64_t>{1, 2, 3, 4}));
  EXPECT_EQ(s.state.applied_up_to, 4u);
  EXPECT_EQ(s.writer->next_time(), 5u);
}

TEST(LogWriterLock, OneWriterPerDirectoryWithinAProcess) {
  ScratchDir scratch;
  Session first, second;
  ASSERT_TRUE(first.open(scratch.path()).ok());
  EXPECT_EQ(log_error_of(second.open(scratch.path())), "log is already locked by another writer");
  first.writer.reset();
  EXPECT_TRUE(second.open(scratch.path()).ok());
  EXPECT_TRUE(std::filesystem::exists(scratch / ".lock"));
}

TEST(LogWriterOpen, DanglingSubjectGetsItsVerdict) {
  LogBuilder built;
  built.accepted("quillane.request.v1", request_json());
  built.commit("quillane.request.v1", request_json("orphan", sha256_utf8("nowhere")));
  const std::vector<Record> whole = built.records();
  ScratchDir scratch;
  write_file(scratch / "records.log", frames_of(std::span(whole).first(3)));
  write_file(scratch / ".intent", *encode_commit_intent({whole[2].id, true}));

  Session s;
  ASSERT_TRUE(s.open(scratch.path()).ok());
  ASSERT_EQ(s.writer->size(), 4u);
  const Record& verdict = s.writer->records()[3];
  EXPECT_EQ(verdict, whole[3]);
  EXPECT_EQ(verdict.time, whole[2].time + 1);
  EXPECT_EQ(verdict.refs, (std::vector<Ref>{cause(whole[2].id)}));
  EXPECT_EQ(verdict_of(verdict).result, VerdictResult::Reject);
  EXPECT_FALSE(std::filesystem::exists(scratch / ".intent"));
  EXPECT_EQ(file_of(scratch), frames_of(whole));
  EXPECT_EQ(s.writer->next_time(), 5u);
}

TEST(LogWriterOpen, FailuresReleaseTheLock) {
  LogBuilder built;
  built.accepted("quillane.request.v1", request_json());
  const std::vector<Record> log = built.records();
  // A dangling subject at the end of time.
  std::string last_time = *encode_record(log[0]);
  last_time.replace(last_time.find("\"time\":1"), 8, "\"time\":18446744073709551615");
  VerifierRules other_space = test_rules();
  other_space.space = sha256_utf8("elsewhere");
  struct Case {
    const char* name;
    std::string file;
    VerifierRules rules;
    std::uint64_t max_bytes;
    std::string error;
  };
  const std::string frames = frames_of(log);
  const Case cases[] = {
      {"other rules", frames, other_space, kDefaultMaxLogBytes,
       "existing log failed replay verification: InvalidPayload"},
      {"over the limit", frames, test_rules(), frames.size() - 1,
       LogError::log_too_large(frames.size(), frames.size() - 1).message()},
      {"undecodable", frames + frame_of("[]"), test_rules(), kDefaultMaxLogBytes, "I/O error: Failed to deserialize"},
      {"time exhausted", frame_of(last_time), test_rules(), kDefaultMaxLogBytes,
       "logical time counter exhausted; log accepts no further commits"},
  };
  for (const Case& c : cases) {
    ScratchDir scratch;
    write_file(scratch / "records.log", c.file);
    auto opened = LogWriter::open_with_max_bytes(scratch.path(), c.rules, c.max_bytes);
    EXPECT_EQ(log_error_of(opened).substr(0, c.error.size()), c.error) << c.name;
    // The failed open let go of the lock: a second attempt fails the same way.
    auto again = LogWriter::open_with_max_bytes(scratch.path(), c.rules, c.max_bytes);
    EXPECT_EQ(log_error_of(again).substr(0, c.error.size()), c.error) << c.name;
  }
}

TEST(LogWriterCommit, RefusesForeignRulesAndStaleStateWithoutWriting) {
  ScratchDir scratch;
  Session s;
  ASSERT_TRUE(s.open(scratch.path()).ok());
  ASSERT_TRUE(s.commit(request()).ok());
  const std::string before = file_of(scratch);

  VerifierRules changed = s.rules;
  changed.max_considered += 1;
  auto wrong_rules = s.writer->commit(request("b"), changed, s.state);
  EXPECT_EQ(log_error_of(wrong_rules), "commit rules differ from the rules used to open this writer");

  State stale;  // the state of an empty log
  auto wrong_state = s.writer->commit(request("b"), s.rules, stale);
  EXPECT_EQ(log_error_of(wrong_state),
            "derived state does not match the current log; rebuild it before committing");
  EXPECT_EQ(stale, State{});

  EXPECT_EQ(file_of(scratch), before);
  EXPECT_TRUE(s.commit(request("b")).ok());

  // The state the writer last brought up to date is recognised without a
  // full comparison; any change through the state's operations, or an
  // assignment into the same object, is still caught.
  const State current = s.state;
  Record foreign = s.writer->records().front();
  foreign.id = sha256_utf8("not in the log");
  ASSERT_TRUE(apply_record(s.state, foreign, StatedVerdict{}).ok());
  EXPECT_EQ(log_error_of(s.writer->commit(request("c"), s.rules, s.state)),
            "derived state does not match the current log; rebuild it before committing");
  s.state = current;
  s.state.accepted_records.insert(foreign.id);
  EXPECT_EQ(log_error_of(s.writer->commit(request("c"), s.rules, s.state)),
            "derived state does not match the current log; rebuild it before committing");
  s.state = current;
  EXPECT_TRUE(s.commit(request("c")).ok());
  EXPECT_EQ(file_of(scratch).size() > before.size(), true);
}

TEST(LogWriterCommit, RejectedSubjectIsStillAppended) {
  ScratchDir scratch;
  Session s;
  ASSERT_TRUE(s.open(scratch.path()).ok());
  const State before = s.state;
  auto outcome = s.commit(orphan_request());
  ASSERT_TRUE(outcome.ok()) << log_error_of(outcome);
  EXPECT_EQ(outcome->result, VerdictResult::Reject);
  ASSERT_TRUE(outcome->reason.has_value());
  ASSERT_EQ(s.writer->size(), 2u);
  EXPECT_EQ(s.writer->records()[0].id, outcome->id);
  const VerdictData verdict = verdict_of(s.writer->records()[1]);
  EXPECT_EQ(verdict.result, VerdictResult::Reject);
  EXPECT_EQ(verdict.reason, outcome->reason);
  State expected = before;
  expected.applied_up_to = 2;
  EXPECT_EQ(s.state, expected);
}

TEST(LogWriterCommit, SignsWithTheGivenSigner) {
  std::array<std::uint8_t, 32> seed;
  seed.fill(9);
  const auto signer = Ed25519Signer::from_secret_bytes(seed);
  ScratchDir scratch;
  Session s;
  s.rules.signature_required_kinds = {Kind::Request};
  s.rules.author_keys["user"] = {signer.public_key()};
  ASSERT_TRUE(s.open(scratch.path()).ok());
  auto unsigned_outcome = s.commit(request("a"));
  ASSERT_TRUE(unsigned_outcome.ok());
  EXPECT_EQ(unsigned_outcome->reason, ReasonCode::SignatureMissing);
  auto signed_outcome = s.writer->commit_signed(request("b"), s.rules, s.state, signer);
  ASSERT_TRUE(signed_outcome.ok()) << log_error_of(signed_outcome);
  EXPECT_EQ(signed_outcome->result, VerdictResult::Accept);
  EXPECT_TRUE(s.writer->records()[2].author.signature.has_value());
}

TEST(LogWriterCommit, LogTooLargeBeforeAnythingIsWritten) {
  ScratchDir scratch;
  std::uint64_t one_commit = 0;
  {
    Session probe;
    ASSERT_TRUE(probe.open(scratch / "probe").ok());
    ASSERT_TRUE(probe.commit(request()).ok());
    one_commit = std::filesystem::file_size(scratch / "probe/records.log");
  }
  Session s;
  ASSERT_TRUE(s.open(scratch.path(), posix_file_system(), one_commit - 1).ok());
  for (int attempt = 0; attempt < 2; ++attempt) {  // the writer stays usable: the same error again
    auto outcome = s.commit(request());
    EXPECT_EQ(log_error_of(outcome), LogError::log_too_large(one_commit, one_commit - 1).message());
  }
  EXPECT_EQ(std::filesystem::file_size(scratch / "records.log"), 0u);
  EXPECT_FALSE(std::filesystem::exists(scratch / ".intent"));
  EXPECT_FALSE(s.writer->poisoned());
}

TEST(LogWriterCommit, TimeLimits) {
  struct Case {
    std::uint64_t next_time;
    const char* error;
  };
  const Case cases[] = {
      {kMaxSafeInteger + 1, "JSON error: "},  // the subject's time cannot be encoded
      {kU64Max - 2, "JSON error: "},          // the last time that passes the counter check
      {kU64Max - 1, "logical time counter exhausted; log accepts no further commits"},
      {kU64Max, "logical time counter exhausted; log accepts no further commits"},
  };
  for (const Case& c : cases) {
    ScratchDir scratch;
    Session s;
    ASSERT_TRUE(s.open(scratch.path()).ok());
    LogWriterTestAccess::set_next_time(*s.writer, c.next_time);
    auto outcome = s.commit(request());
    EXPECT_EQ(log_error_of(outcome).rfind(c.error, 0), 0u) << c.next_time << ": " << log_error_of(outcome);
    EXPECT_EQ(std::filesystem::file_size(scratch / "records.log"), 0u);
    LogWriterTestAccess::set_next_time(*s.writer, 1);
    EXPECT_TRUE(s.commit(request()).ok()) << c.next_time;
  }
}

TEST(LogWriterCommit, PoisonedAfterAFailedDurablePhase) {
  FaultFs fs;
  Session s;
  ASSERT_TRUE(s.open("/log", fs).ok());
  // Calls of a commit: size, then the intent (open, append, fsync, rename,
  // open dir, fsync dir), then size and append of the subject frame.
  fs.fail_call(fs.calls() + 8);
  auto failed = s.commit(request());
  ASSERT_EQ(fs.fault(), "append");
  EXPECT_EQ(log_error_of(failed), "I/O error: injected failure of append");
  EXPECT_TRUE(s.writer->poisoned());
  EXPECT_EQ(log_error_of(s.commit(request())),
            "a commit entered its durable phase but did not finish; drop and reopen the writer");

  // Reopening drops the torn half frame.
  s.writer.reset();
  ASSERT_TRUE(s.open("/log", fs).ok());
  EXPECT_EQ(s.writer->size(), 0u);
  EXPECT_EQ(fs.read("/log/records.log"), "");
  EXPECT_TRUE(s.commit(request()).ok());
}

// The writer applies each commit to its own copy of the state; after many
// commits of every effect that copy is still the state the file rebuilds to.
TEST(LogWriterState, ReferenceStateFollowsTheFile) {
  FaultFs fs;
  Session s;
  ASSERT_TRUE(s.open("/log", fs).ok());
  auto commit = [&](PendingRecord p) {
    auto outcome = s.commit(std::move(p));
    EXPECT_TRUE(outcome.ok()) << log_error_of(outcome);
    return outcome.ok() ? outcome->id : RecordId{};
  };
  for (int round = 0; round < 60; ++round) {
    const RecordId req = commit(request("objective " + std::to_string(round)));
    commit(pending("quillane.requirement.v1", requirement_json("latency"), {cause(req)}));
    const RecordId cand =
        commit(pending("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(req)}));
    const RecordId eval = commit(pending("quillane.evaluation.v1", evaluation_json(cand), {use(cand)}, "provider"));
    commit(pending("quillane.selection.v1", selection_json({cand}, std::vector<Digest>{cand}),
                   {use(eval), require(cand)}));
    if (round % 3 == 0)
      commit(pending("quillane.retraction.v1", retraction_json(cand), {cause(cand)}, "provider"));
    commit(orphan_request());
  }
  const auto records = s.writer->records();
  auto rebuilt = build_state_unchecked(records);
  ASSERT_TRUE(rebuilt.ok());
  EXPECT_FALSE(rebuilt->tainted_records.empty());
  EXPECT_EQ(LogWriterTestAccess::reference_state(*s.writer), *rebuilt);
  EXPECT_EQ(s.state, *rebuilt);
  EXPECT_TRUE(ensure_state_matches(records, s.state).ok());
  EXPECT_TRUE(require_valid_log(records, s.rules).ok());
}

}  // namespace
}  // namespace quillane
