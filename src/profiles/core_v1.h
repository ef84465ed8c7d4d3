// "quillane-core-v1": the baseline profile every other profile builds on.
#pragma once

#include <string_view>

#include "profiles/profile.h"
#include "receipt/receipt.h"
#include "receipt/report.h"

namespace quillane {

inline constexpr std::string_view kCoreV1Id = "quillane-core-v1";

ProfileTable core_v1_table();
ProfileResult evaluate_core_v1(const Receipt& receipt, const Report& report);

}  // namespace quillane
