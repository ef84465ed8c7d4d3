// records.log: frames, torn tails, undecodable frames, the size limit.
#include <gtest/gtest.h>

#include "log/storage/file_log.h"
#include "log_test_support.h"

namespace quillane {
namespace {

using namespace test;

// Two records of a valid log, and their frames.
struct Sample {
  std::vector<Record> records;
  std::string first, second;
  Sample() {
    LogBuilder log;
    log.accepted("quillane.request.v1", request_json());
    records = log.records();
    first = frame_bytes(records[0]);
    second = frame_bytes(records[1]);
  }
};

std::uint64_t size_of(const std::filesystem::path& path) { return std::filesystem::file_size(path); }

std::string prefix(std::uint32_t n) {
  return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
}

TEST(FileLogOpen, NewDirectoryYieldsEmptyFile) {
  ScratchDir scratch;
  const auto dir = scratch / "a/b/log";
  auto log = FileLog::open(posix_file_system(), dir, kDefaultMaxLogBytes);
  ASSERT_TRUE(log.ok()) << log_error_of(log);
  EXPECT_EQ(log->size(), 0u);
  EXPECT_EQ(log->dir(), dir);
  EXPECT_EQ(size_of(dir / "records.log"), 0u);
}

TEST(FileLogOpen, TornTailIsDroppedSilently) {
  const Sample s;
  const std::string body = s.first.substr(4);
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t records;
    std::size_t kept_bytes;
  };
  const Case cases[] = {
      {"empty", "", 0, 0},
      {"one byte", std::string(1, '\0'), 0, 0},
      {"three bytes", std::string(3, '\xff'), 0, 0},
      {"short prefix after a frame", s.first + std::string(2, '\0'), 1, s.first.size()},
      {"short body after a frame", s.first + s.second.substr(0, s.second.size() - 1), 1, s.first.size()},
      {"length beyond the file", s.first + prefix(0xFFFFFFFFu) + body, 1, s.first.size()},
      {"whitespace after the value", prefix(static_cast<std::uint32_t>(body.size() + 2)) + body + " \n", 1,
       body.size() + 6},
      {"two whole frames", s.first + s.second, 2, s.first.size() + s.second.size()},
  };
  for (const Case& c : cases) {
    ScratchDir scratch;
    write_file(scratch / "records.log", c.bytes);
    auto log = FileLog::open(posix_file_system(), scratch.path(), kDefaultMaxLogBytes);
    ASSERT_TRUE(log.ok()) << c.name << ": " << log_error_of(log);
    EXPECT_EQ(log->size(), c.records) << c.name;
    EXPECT_EQ(size_of(scratch / "records.log"), c.kept_bytes) << c.name;
    if (c.records > 0) {
      EXPECT_EQ(log->records()[0], s.records[0]) << c.name;
    }
  }
}

TEST(FileLogOpen, UndecodableFrameFailsAndTouchesNothing) {
  const Sample s;
  const std::string body = s.first.substr(4);
  const std::string cases[] = {
      prefix(0),
      prefix(static_cast<std::uint32_t>(body.size() + 1)) + body + "x",
      s.first + prefix(2) + "{}" + s.second,
  };
  for (const std::string& bytes : cases) {
    ScratchDir scratch;
    write_file(scratch / "records.log", bytes);
    auto log = FileLog::open(posix_file_system(), scratch.path(), kDefaultMaxLogBytes);
    EXPECT_EQ(log_error_of(log).rfind("I/O error: Failed to deserialize record: ", 0), 0u) << log_error_of(log);
    EXPECT_EQ(read_file((scratch / "records.log").string()), bytes);
  }
}

TEST(FileLogLimit, FileAtTheLimitOpensAndRefusesTheNextFrame) {
  const Sample s;
  ScratchDir scratch;
  write_file(scratch / "records.log", s.first);
  const std::uint64_t limit = s.first.size();
  auto log = FileLog::open(posix_file_system(), scratch.path(), limit);
  ASSERT_TRUE(log.ok()) << log_error_of(log);
  EXPECT_EQ(log_error_of(log->append(s.records[1])),
            LogError::log_too_large(limit + s.second.size(), limit).message());
  EXPECT_EQ(size_of(scratch / "records.log"), limit);
  EXPECT_EQ(log->size(), 1u);

  auto smaller = FileLog::open(posix_file_system(), scratch.path(), limit - 1);
  EXPECT_EQ(log_error_of(smaller), LogError::log_too_large(limit, limit - 1).message());
  EXPECT_EQ(size_of(scratch / "records.log"), limit);
}

TEST(FileLogLimit, CapacityIsCheckedForAllFramesTogether) {
  const Sample s;
  ScratchDir scratch;
  const std::uint64_t both = s.first.size() + s.second.size();
  for (std::uint64_t limit : {both - 1, both}) {
    auto log = FileLog::open(posix_file_system(), scratch.path(), limit);
    ASSERT_TRUE(log.ok());
    EXPECT_TRUE(log->ensure_capacity_for(std::span(s.records).first(1)).ok());
    EXPECT_TRUE(log->ensure_capacity_for(std::span(s.records).last(1)).ok());
    const LogStatus pair = log->ensure_capacity_for(s.records);
    EXPECT_EQ(pair.ok(), limit == both);
    if (!pair.ok()) {
      EXPECT_EQ(pair.error(), LogError::log_too_large(both, limit));
    }
  }
  EXPECT_EQ(size_of(scratch / "records.log"), 0u);
}

TEST(FileLogAppend, FramesAreTheCanonicalBytesAndSurviveReopening) {
  const Sample s;
  ScratchDir scratch;
  {
    auto log = FileLog::open(posix_file_system(), scratch.path(), kDefaultMaxLogBytes);
    ASSERT_TRUE(log.ok());
    for (const Record& r : s.records) ASSERT_TRUE(log->append(r).ok());
    ASSERT_NE(log->get(s.records[1].id), nullptr);
    EXPECT_EQ(*log->get(s.records[1].id), s.records[1]);
    EXPECT_EQ(log->get(sha256_utf8("absent")), nullptr);
  }
  EXPECT_EQ(read_file((scratch / "records.log").string()), s.first + s.second);
  auto reopened = FileLog::open(posix_file_system(), scratch.path(), kDefaultMaxLogBytes);
  ASSERT_TRUE(reopened.ok());
  EXPECT_TRUE(std::ranges::equal(reopened->records(), s.records));
  EXPECT_EQ(reopened->get(s.records[0].id), &reopened->records()[0]);
}

TEST(FileLogError, DisplayTexts) {
  const std::pair<LogError, const char*> cases[] = {
      {LogError::locked(), "log is already locked by another writer"},
      {LogError::io("disk on fire"), "I/O error: disk on fire"},
      {LogError::corrupt_intent(), "corrupted commit intent during recovery"},
      {LogError::poisoned(), "a commit entered its durable phase but did not finish; drop and reopen the writer"},
      {LogError::time_exhausted(), "logical time counter exhausted; log accepts no further commits"},
      {LogError::frame_too_large(4294967296u),
       "record frame of 4294967296 bytes exceeds the u32 length prefix; refusing to corrupt the log"},
      {LogError::log_too_large(18446744073709551615u, 64),
       "log size of 18446744073709551615 bytes exceeds configured limit of 64 bytes"},
      {LogError::invalid_log(std::nullopt), "existing log failed replay verification"},
      {LogError::invalid_log(ReasonCode::LineageInvalid), "existing log failed replay verification: LineageInvalid"},
      {LogError::state_mismatch(), "derived state does not match the current log; rebuild it before committing"},
      {LogError::rules_mismatch(), "commit rules differ from the rules used to open this writer"},
      {LogError::json("bad number"), "JSON error: bad number"},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(error.message(), text);
}

}  // namespace
}  // namespace quillane
