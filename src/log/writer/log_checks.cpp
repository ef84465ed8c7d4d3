#include "log/writer/log_checks.h"

#include "verify/verifier/replay.h"

namespace quillane {

LogStatus require_valid_log(std::span<const Record> records, const VerifierRules& rules) {
  const LogVerdict verdict = verify_log(records, rules);
  if (verdict.invalid) return LogError::invalid_log(verdict.reason);
  return {};
}

LogStatus ensure_state_matches(std::span<const Record> records, const State& state) {
  Result<State> rebuilt = build_state_unchecked(records);
  if (!rebuilt) return LogError::json(rebuilt.error().message);
  if (*rebuilt != state) return LogError::state_mismatch();
  return {};
}

LogResult<Digest> hash_rules(const VerifierRules& rules) {
  Result<Digest> digest = rules_hash(rules);
  if (!digest) return LogError::json(digest.error().message);
  return *digest;
}

}  // namespace quillane
