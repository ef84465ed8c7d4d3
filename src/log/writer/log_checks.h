// The checks that tie a log to the rules and the state a caller holds.
#pragma once

#include <span>

#include "log/storage/log_error.h"
#include "record/record.h"
#include "state/state.h"
#include "verify/rules.h"

namespace quillane {

// Replays `records` under `rules`; InvalidLog with the replay's reason when
// they do not verify.
LogStatus require_valid_log(std::span<const Record> records, const VerifierRules& rules);

// StateMismatch unless `state` equals the state rebuilt from `records`
// (Json when the rebuild fails).
LogStatus ensure_state_matches(std::span<const Record> records, const State& state);

// SHA-256 of the rules' canonical JSON; Json on failure.
LogResult<Digest> hash_rules(const VerifierRules& rules);

}  // namespace quillane
