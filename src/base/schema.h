// The fixed table of schema names; a schema id is the SHA-256 of its name.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "base/digest.h"

namespace quillane {

inline constexpr std::array<std::string_view, 20> kSchemaNames = {
    "quillane.request.v1",
    "quillane.action.v1",
    "quillane.response.v1",
    "quillane.result.v1",
    "quillane.result.external_receipt.v1",
    "quillane.result.effect_confirmation.v1",
    "quillane.capability.v1",
    "quillane.approval.v1",
    "quillane.summary.v1",
    "quillane.refusal.v1",
    "quillane.usage.v1",
    "quillane.verdict.v1",
    "quillane.plan.v1",
    "quillane.retraction.v1",
    "quillane.candidate.v1",
    "quillane.evaluation.v1",
    "quillane.selection.v1",
    "quillane.requirement.v1",
    "quillane.evaluation.v2",
    "quillane.evaluation.attested.v1",
};

inline Digest schema_id(std::string_view name) { return sha256_utf8(name); }

// Position in the table of the name whose id equals `id`, or nothing.
std::optional<std::size_t> schema_index_for_id(const Digest& id);

// The table name whose id equals `id`, or nothing.
std::optional<std::string_view> schema_name_for_id(const Digest& id);

}  // namespace quillane
