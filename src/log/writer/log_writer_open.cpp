// Opening a log directory: lock, read, complete an interrupted commit,
// remove a stale intent, replay.
#include <limits>

#include "log/storage/commit_intent.h"
#include "log/writer/log_checks.h"
#include "log/writer/log_writer.h"
#include "verify/verifier/check_record.h"
#include "verify/verifier/replay.h"

namespace quillane {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr const char* kLockFileName = ".lock";

LogResult<FileHandle> take_lock(FileSystem& fs, const std::filesystem::path& dir) {
  if (Status s = create_directories(fs, dir); !s) return LogError::io(s.error().message);
  Result<FileHandle> lock = fs.open(dir / kLockFileName, OpenMode::WriteKeep);
  if (!lock) return LogError::io(lock.error().message);
  Result<bool> taken = fs.try_lock(*lock);
  if (!taken) return LogError::io(taken.error().message);
  if (!*taken) return LogError::locked();
  return std::move(lock).value();
}

// The log ends with a subject whose Verdict a crash prevented: judge it
// against the records before it and append the Verdict. `state` is the
// state of those records.
LogStatus complete_interrupted_commit(FileLog& log, const VerifierRules& rules, const State& state) {
  const std::span<const Record> prior_records = log.records().first(log.size() - 1);
  const Record& subject = log.records().back();
  const Judgement judgement = check_record(subject, PriorIndex::of(prior_records), rules, state);
  if (subject.time == kU64Max) return LogError::time_exhausted();
  Result<Record> verdict = materialize_verdict(subject, subject.time + 1, judgement);
  if (!verdict) return LogError::json(verdict.error().message);
  return log.append(std::move(verdict).value());
}

}  // namespace

LogResult<LogWriter> LogWriter::open(const std::filesystem::path& dir, const VerifierRules& rules, FileSystem& fs) {
  return open_with_max_bytes(dir, rules, kDefaultMaxLogBytes, fs);
}

LogResult<LogWriter> LogWriter::open_with_max_bytes(const std::filesystem::path& dir, const VerifierRules& rules,
                                                    std::uint64_t max_bytes, FileSystem& fs) {
  QL_ASSIGN(FileHandle lock, take_lock(fs, dir));
  QL_ASSIGN(FileLog log, FileLog::open(fs, dir, max_bytes));

  const std::size_t n = log.size();
  const bool dangling = n > 0 && log.records().back().kind != Kind::Verdict;
  // The replay of the records before a dangling subject; without one it is
  // already the replay of the whole log.
  ReplayOutcome replay = replay_log(log.records().first(dangling ? n - 1 : n), rules);
  if (replay.verdict.invalid) return LogError::invalid_log(replay.verdict.reason);
  if (dangling) QL_TRY(complete_interrupted_commit(log, rules, replay.state));
  QL_TRY(clear_file(fs, log.dir() / kIntentFileName));
  if (dangling) {
    replay = replay_log(log.records(), rules);
    if (replay.verdict.invalid) return LogError::invalid_log(replay.verdict.reason);
  }

  const std::uint64_t last_time = log.size() == 0 ? 0 : log.records().back().time;
  const std::uint64_t next_time = last_time == kU64Max ? kU64Max : last_time + 1;
  QL_ASSIGN(const Digest rules_digest, hash_rules(rules));
  LogWriter writer(fs, std::move(log), next_time, rules_digest, std::move(lock), std::move(replay.state));
  writer.catch_up_index();
  return writer;
}

}  // namespace quillane
