// The outcome of validating a receipt, and its fixed text form.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/digest.h"
#include "profiles/profile.h"
#include "record/enums.h"
#include "record/record.h"
#include "verify/standing.h"

namespace quillane {

enum class ValidationStatus : std::uint8_t { Clean, Tainted, Invalid };
std::string_view validation_status_name(ValidationStatus status);

struct Report {
  ValidationStatus status = ValidationStatus::Invalid;
  std::optional<ReasonCode> reason;    // replay's first violation
  std::optional<std::string> problem;  // validation stopped before replay
  std::string spec_version;            // empty when too large or unparseable
  std::uint64_t record_count = 0;
  std::uint64_t checked_records = 0;
  std::uint64_t last_time = 0;
  Digest head_hash{};
  Digest rules_hash{};
  std::set<RecordId> retracted;
  std::set<RecordId> tainted;
  StandingSection standing;
  std::vector<ProfileResult> profiles;  // declared, then requested-only
  bool operator==(const Report&) const = default;
};

// The report's multi-line display: one line-feed-terminated line per entry,
// values starting at column 18.
std::string report_text(const Report& report);

}  // namespace quillane
