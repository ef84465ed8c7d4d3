// Replay: walks a log of subjects and their Verdicts from nothing,
// re-derives every judgement, and reports the first disagreement.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <variant>

#include "record/record.h"
#include "state/state.h"
#include "verify/rules.h"
#include "verify/standing.h"
#include "verify/verifier/judgement.h"
#include "verify/verifier/prior_index.h"

namespace quillane {

struct LogVerdict {
  std::uint64_t checked = 0;    // records replayed before the end or the violation
  std::uint64_t last_time = 0;  // time of the last record of the log
  std::set<RecordId> retracted;
  std::set<RecordId> tainted;
  StandingSection standing;
  std::optional<ReasonCode> reason;
  bool invalid = false;
};

// The shape a Verdict record must have.
Judgement check_verdict_record(const Record& verdict, const Prior& prior, const VerifierRules& rules);

LogVerdict verify_log(std::span<const Record> records, const VerifierRules& rules);

// The replay's outcome together with the state it built (valid logs only).
struct ReplayOutcome {
  LogVerdict verdict;
  State state;
};
ReplayOutcome replay_log(std::span<const Record> records, const VerifierRules& rules);

// Replays the log and, when valid, returns its state; otherwise the report.
std::variant<State, LogVerdict> verify_and_build_state(std::span<const Record> records, const VerifierRules& rules);

}  // namespace quillane
