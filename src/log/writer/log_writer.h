// LogWriter: the single-writer engine over a log directory. Opening takes the
// directory's lock, reads records.log, completes a commit that a crash
// interrupted, and replays the log under the rules. Each commit finishes a
// pending record into a subject, has the verifier judge it, and appends the
// subject and its Verdict durably; a rejected subject is committed too.
//
// The caller owns the rules and the derived state and passes them to every
// commit; the writer refuses them unless they still belong to the log. To
// check the state without rebuilding it, the writer keeps its own copy in
// step with the file, together with the id index the verifier reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "log/storage/file_log.h"
#include "log/storage/file_system.h"
#include "log/storage/log_error.h"
#include "log/writer/log_checks.h"
#include "log/writer/subject_builder.h"
#include "record/record.h"
#include "record/signing.h"
#include "state/state.h"
#include "verify/rules.h"
#include "verify/verifier/prior_index.h"

namespace quillane {

inline constexpr std::uint64_t kDefaultMaxLogBytes = 67108864;

struct CommitOutcome {
  RecordId id{};  // the subject's
  VerdictResult result = VerdictResult::Accept;
  std::optional<ReasonCode> reason;
};

class LogWriter {
 public:
  static LogResult<LogWriter> open(const std::filesystem::path& dir, const VerifierRules& rules,
                                   FileSystem& fs = posix_file_system());
  static LogResult<LogWriter> open_with_max_bytes(const std::filesystem::path& dir, const VerifierRules& rules,
                                                  std::uint64_t max_bytes, FileSystem& fs = posix_file_system());

  // `state` must be the log's current state; it is brought up to date.
  LogResult<CommitOutcome> commit(PendingRecord pending, const VerifierRules& rules, State& state);
  LogResult<CommitOutcome> commit_signed(PendingRecord pending, const VerifierRules& rules, State& state,
                                         const Ed25519Signer& signer);

  std::span<const Record> records() const { return log_.records(); }
  // The record with this id, or null.
  const Record* find(const RecordId& id) const { return log_.get(id); }
  // The state the log's records add up to (the log verified at open).
  const State& state() const { return state_; }
  std::size_t size() const { return log_.size(); }
  const std::filesystem::path& dir() const { return log_.dir(); }
  std::uint64_t next_time() const { return next_time_; }
  bool poisoned() const { return poisoned_; }

 private:
  friend struct LogWriterTestAccess;

  LogWriter(FileSystem& fs, FileLog log, std::uint64_t next_time, const Digest& rules_hash, FileHandle lock,
            State state);

  LogResult<CommitOutcome> commit_with(PendingRecord pending, const VerifierRules& rules, State& state,
                                       const Ed25519Signer* signer);
  // Steps that write: intent, subject, intent, Verdict, intent removal.
  LogStatus write_pair(Record subject, Record verdict);
  LogStatus apply_committed(const RecordId& subject_id, Judgement judgement, State& state);
  // Brings the id index up to the records of the file.
  void catch_up_index();

  FileLog log_;
  std::uint64_t next_time_;
  Digest rules_hash_;
  FileHandle lock_;
  bool poisoned_ = false;
  FileSystem* fs_;
  PriorIndex prior_;
  const Record* indexed_base_ = nullptr;  // records().data() when prior_ was last brought up to date
  std::size_t indexed_count_ = 0;
  State state_;  // the state the file's records add up to
  // The caller's state as this writer last left it: while it still carries
  // the same stamp at the same address it equals state_, and the commit
  // skips the field-by-field comparison.
  const State* trusted_state_ = nullptr;
  std::uint64_t trusted_stamp_ = 0;
};

}  // namespace quillane
