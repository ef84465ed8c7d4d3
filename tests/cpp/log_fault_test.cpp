// Fault injection: every file-system call of a commit fails in turn, and the
// power is cut at every call of opening and committing. The directory must
// always reopen to a valid log that holds every acknowledged commit and
// either the whole of the interrupted one or none of it.
#include <gtest/gtest.h>

#include "log/storage/commit_intent.h"
#include "log_fault_fs.h"
#include "log_test_support.h"

namespace quillane {
namespace {

using namespace test;

constexpr const char* kDir = "/data/log";
constexpr std::size_t kCommits = 3;

// The k-th commit of the script: a request, a rejected orphan, and a
// candidate under the request.
PendingRecord script_step(std::size_t k, std::span<const Record> records) {
  switch (k) {
    case 0: return request();
    case 1: return orphan_request();
    default: return pending("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(records[0].id)});
  }
}

// The records of the whole script run without faults.
const std::vector<Record>& reference() {
  static const std::vector<Record> records = [] {
    FaultFs fs;
    Session s;
    EXPECT_TRUE(s.open(kDir, fs).ok());
    for (std::size_t k = 0; k < kCommits; ++k) EXPECT_TRUE(s.commit(script_step(k, s.writer->records())).ok());
    return std::vector<Record>(s.writer->records().begin(), s.writer->records().end());
  }();
  return records;
}

// Commits from wherever the log stands to the end of the script; returns
// the number of acknowledged commits.
std::size_t run_script(Session& s) {
  std::size_t acknowledged = s.writer->size() / 2;
  for (std::size_t k = acknowledged; k < kCommits; ++k) {
    if (!s.commit(script_step(k, s.writer->records())).ok()) break;
    ++acknowledged;
  }
  return acknowledged;
}

// Reopens after a fault: the log verifies, holds whole pairs of the
// reference, at least `at_least` commits and at most one more, and no
// intent remains. Then the rest of the script must go through.
void expect_recovers(FaultFs& fs, std::size_t at_least, const std::string& where) {
  Session s;
  const LogStatus opened = s.open(kDir, fs);
  ASSERT_TRUE(opened.ok()) << where << ": " << opened.error().message();
  const std::size_t n = s.writer->size();
  EXPECT_EQ(n % 2, 0u) << where;
  EXPECT_GE(n, 2 * at_least) << where;
  EXPECT_LE(n, 2 * at_least + 2) << where;
  EXPECT_TRUE(std::ranges::equal(s.writer->records(), std::span(reference()).first(n))) << where;
  EXPECT_FALSE(fs.read(std::string(kDir) + "/.intent")) << where;
  EXPECT_EQ(run_script(s), kCommits) << where;
  EXPECT_TRUE(std::ranges::equal(s.writer->records(), reference())) << where;
}

TEST(LogFault, EachFailedCallOfACommitLeavesAllOrNothing) {
  for (std::size_t k = 0;; ++k) {
    FaultFs fs;
    Session s;
    ASSERT_TRUE(s.open(kDir, fs).ok());
    ASSERT_TRUE(s.commit(script_step(0, {})).ok());
    const std::string before = *fs.read(std::string(kDir) + "/records.log");
    fs.fail_call(fs.calls() + k);
    const auto outcome = s.commit(script_step(1, s.writer->records()));
    if (!fs.fault()) {
      ASSERT_TRUE(outcome.ok());
      break;
    }
    const std::string where = "call " + std::to_string(k) + " (" + *fs.fault() + ")";
    if (!outcome.ok() && !s.writer->poisoned()) {
      // Failed before its durable phase: nothing changed, and the writer goes on.
      EXPECT_EQ(fs.read(std::string(kDir) + "/records.log"), before) << where;
      EXPECT_TRUE(s.commit(script_step(1, s.writer->records())).ok()) << where;
    }
    if (s.writer->poisoned()) {
      EXPECT_EQ(s.commit(script_step(1, s.writer->records())).error(), LogError::poisoned()) << where;
    }
    s.writer.reset();
    expect_recovers(fs, 1, where);
  }
}

TEST(LogFault, PowerCutAtEveryCallKeepsWhatWasSynced) {
  for (auto cut : {FaultFs::Cut::DropUnsynced, FaultFs::Cut::TornUnsynced, FaultFs::Cut::KeepWritten}) {
    for (std::size_t k = 0;; ++k) {
      FaultFs fs;
      fs.crash_at_call(k);
      std::size_t acknowledged = 0;
      {
        Session s;
        if (s.open(kDir, fs).ok()) acknowledged = run_script(s);
      }
      if (!fs.fault()) {
        EXPECT_EQ(acknowledged, kCommits);
        break;
      }
      const std::string where =
          "cut " + std::to_string(static_cast<int>(cut)) + " at call " + std::to_string(k) + " (" + *fs.fault() + ")";
      fs.power_cut(cut);
      expect_recovers(fs, acknowledged, where);
    }
  }
}

// A crash while open completes an interrupted commit: the next open
// completes it all the same.
TEST(LogFault, PowerCutDuringRecovery) {
  const std::vector<Record>& whole = reference();
  for (auto cut : {FaultFs::Cut::DropUnsynced, FaultFs::Cut::TornUnsynced, FaultFs::Cut::KeepWritten}) {
    for (std::size_t k = 0;; ++k) {
      FaultFs fs;
      fs.make_dirs(kDir);
      fs.put(std::string(kDir) + "/records.log", frames_of(std::span(whole).first(3)));
      fs.put(std::string(kDir) + "/.intent", *encode_commit_intent({whole[2].id, true}));
      fs.crash_at_call(k);
      bool opened = false;
      {
        Session s;
        opened = s.open(kDir, fs).ok();
      }
      if (!fs.fault()) {
        EXPECT_TRUE(opened);
        break;
      }
      const std::string where = "recovery cut at call " + std::to_string(k) + " (" + *fs.fault() + ")";
      fs.power_cut(cut);
      expect_recovers(fs, 2, where);
    }
  }
}

}  // namespace
}  // namespace quillane
