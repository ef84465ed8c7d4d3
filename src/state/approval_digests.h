// Digests used as keys of the derived state: what an exact approval names,
// and the identity of a summary.
#pragma once

#include <optional>
#include <string_view>

#include "base/digest.h"
#include "base/result.h"
#include "record/activity_payloads.h"
#include "record/evolution_payloads.h"

namespace quillane {

inline constexpr std::string_view kSelectionApprovalDomain = "quillane.selection-approval.v0.3";

// SHA-256 of the canonical [author id, action payload].
Result<Digest> action_approval_digest(std::string_view author_id, const ActionData& action);
// SHA-256 of the canonical [domain, author id, replaced id or null, selection payload].
Result<Digest> selection_approval_digest(std::string_view author_id, const std::optional<Digest>& replaces,
                                         const SelectionData& selection);
// SHA-256 of the canonical [summary_type, subject, scope].
Result<Digest> summary_identity_digest(const SummaryData& summary);

}  // namespace quillane
