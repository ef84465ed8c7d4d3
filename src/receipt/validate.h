// Offline validation of receipt bytes: limits, parsing, epoch and
// declaration checks, hashes, a full replay, then profile evaluation.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "receipt/report.h"
#include "verify/rules.h"

namespace quillane {

// Bounds on the work one receipt may cause; a value equal to a bound is allowed.
// The defaults are the bounds the Python `validate` applies.
struct ValidationLimits {
  std::uint64_t max_receipt_bytes = 67'108'864;
  std::uint64_t max_records = 1'000'000;
  std::uint64_t max_payload_bytes = 16'777'216;
  std::uint64_t max_refs = 4'096;
};

// The epoch this validator implements, and the epochs it validates.
inline constexpr std::string_view kImplementedEpoch = "0.4";

// A copy of the rules whose kind_schema_map keeps only the schemas the
// epoch admits; an epoch this validator does not know admits none.
VerifierRules rules_for_epoch(const VerifierRules& rules, std::string_view spec_version);

// Validation with the receipt's declared profiles only. Never fails: an
// unusable receipt is an Invalid report with a problem.
Report validate_with_limits(std::string_view bytes, const ValidationLimits& limits);

// As above; when `requested` is non-empty and the receipt reached replay,
// the profiles are the declared ones followed by the requested ids.
Report validate_with_profiles(std::string_view bytes, const ValidationLimits& limits,
                              std::span<const std::string> requested);

}  // namespace quillane
