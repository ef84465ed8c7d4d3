// "quillane-core-signed-v1": the core profile, plus signatures demanded on
// every evolution kind, pinned keys for their authors, and attested
// evaluations behind every choice.
#pragma once

#include <string_view>

#include "profiles/profile.h"
#include "receipt/receipt.h"
#include "receipt/report.h"

namespace quillane {

inline constexpr std::string_view kSignedV1Id = "quillane-core-signed-v1";

ProfileTable signed_v1_table();
ProfileResult evaluate_signed_v1(const Receipt& receipt, const Report& report);

}  // namespace quillane
