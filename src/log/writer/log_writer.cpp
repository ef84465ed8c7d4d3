#include "log/writer/log_writer.h"

#include <array>
#include <limits>

#include "log/storage/commit_intent.h"
#include "log/writer/log_checks.h"
#include "verify/verifier/check_record.h"

namespace quillane {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

StatedVerdict stated(Judgement judgement) {
  if (judgement.accepted()) return {VerdictResult::Accept, std::nullopt};
  return {VerdictResult::Reject, judgement.reason()};
}

}  // namespace

LogWriter::LogWriter(FileSystem& fs, FileLog log, std::uint64_t next_time, const Digest& rules_hash, FileHandle lock,
                     State state)
    : log_(std::move(log)),
      next_time_(next_time),
      rules_hash_(rules_hash),
      lock_(std::move(lock)),
      fs_(&fs),
      state_(std::move(state)) {}

LogResult<CommitOutcome> LogWriter::commit(PendingRecord pending, const VerifierRules& rules, State& state) {
  return commit_with(std::move(pending), rules, state, nullptr);
}

LogResult<CommitOutcome> LogWriter::commit_signed(PendingRecord pending, const VerifierRules& rules, State& state,
                                                  const Ed25519Signer& signer) {
  return commit_with(std::move(pending), rules, state, &signer);
}

LogResult<CommitOutcome> LogWriter::commit_with(PendingRecord pending, const VerifierRules& rules, State& state,
                                                const Ed25519Signer* signer) {
  if (poisoned_) return LogError::poisoned();
  QL_ASSIGN(const Digest rules_digest, hash_rules(rules));
  if (rules_digest != rules_hash_) return LogError::rules_mismatch();
  const bool trusted = &state == trusted_state_ && state.stamp.value == trusted_stamp_;
  if (!trusted && state != state_) return LogError::state_mismatch();
  if (next_time_ > kU64Max - 2) return LogError::time_exhausted();

  catch_up_index();
  Result<Record> subject = finish_subject(std::move(pending), next_time_, state_, prior_, signer);
  if (!subject) return LogError::json(subject.error().message);
  const Judgement judgement = check_record(*subject, prior_, rules, state_);
  Result<Record> verdict = materialize_verdict(*subject, next_time_ + 1, judgement);
  if (!verdict) return LogError::json(verdict.error().message);
  const RecordId id = subject->id;

  QL_TRY(write_pair(std::move(subject).value(), std::move(verdict).value()));
  QL_TRY(apply_committed(id, judgement, state));
  next_time_ += 2;  // cannot overflow: checked before the subject was built
  poisoned_ = false;
  const StatedVerdict outcome = stated(judgement);
  return CommitOutcome{id, outcome.result, outcome.reason};
}

LogStatus LogWriter::write_pair(Record subject, Record verdict) {
  std::array<Record, 2> frames{std::move(subject), std::move(verdict)};
  QL_TRY(log_.ensure_capacity_for(frames));
  const std::filesystem::path intent_path = log_.dir() / kIntentFileName;
  const RecordId id = frames[0].id;
  QL_TRY(write_to_file(*fs_, CommitIntent{id, false}, intent_path));
  // From here on a failure leaves the file ahead of, or torn against, the
  // memory of this writer: only a reopen can tell which.
  poisoned_ = true;
  QL_TRY(log_.append(std::move(frames[0])));
  QL_TRY(write_to_file(*fs_, CommitIntent{id, true}, intent_path));
  QL_TRY(log_.append(std::move(frames[1])));
  return clear_file(*fs_, intent_path);
}

LogStatus LogWriter::apply_committed(const RecordId& subject_id, Judgement judgement, State& state) {
  const Record* subject = log_.get(subject_id);
  if (subject == nullptr) return LogError::corrupt_intent();
  const StatedVerdict verdict = stated(judgement);
  if (Status s = apply_record(state, *subject, verdict); !s) return LogError::json(s.error().message);
  if (Status s = apply_record(state_, *subject, verdict); !s) return LogError::json(s.error().message);
  state.applied_up_to = state_.applied_up_to = next_time_ + 1;
  state.stamp.value = StateStamp::fresh();
  trusted_state_ = &state;
  trusted_stamp_ = state.stamp.value;
  catch_up_index();
  return {};
}

void LogWriter::catch_up_index() {
  const std::span<const Record> records = log_.records();
  if (records.data() != indexed_base_) {
    // The records moved (or were never indexed): index them afresh.
    prior_ = PriorIndex::of(records);
  } else {
    for (std::size_t p = indexed_count_; p < records.size(); ++p) prior_.insert(p, records[p]);
  }
  indexed_base_ = records.data();
  indexed_count_ = records.size();
}

}  // namespace quillane
