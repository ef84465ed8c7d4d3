// "delivery-receipt-v1": whether a receipt documents a delivery, a Selection
// that chose one candidate on passing, evidenced, independent evaluations
// bound to the requirements of one Request.
#pragma once

#include <string_view>

#include "profiles/profile.h"
#include "receipt/receipt.h"
#include "receipt/report.h"

namespace quillane {

inline constexpr std::string_view kDeliveryV1Id = "delivery-receipt-v1";

ProfileTable delivery_v1_table();
ProfileResult evaluate_delivery_v1(const Receipt& receipt, const Report& report);

}  // namespace quillane
