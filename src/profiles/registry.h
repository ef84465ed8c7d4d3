// The known profiles, declarations, and evaluation of declared and requested
// profiles over a parsed receipt and its report.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "profiles/profile.h"
#include "receipt/receipt.h"
#include "receipt/report.h"

namespace quillane {

// The table of a known profile id (matched byte for byte), or nothing.
std::optional<ProfileTable> profile_table(std::string_view id);
// The declaration naming a known profile's current table, or nothing.
std::optional<ProfileRef> profile_ref(std::string_view id);

// The receipt with one declaration appended per id, in order, or the message
// for the first id that is unknown or already declared.
Result<Receipt> with_declared_profiles(Receipt receipt, std::span<const std::string> ids);

// One profile by id; an unknown id is an Unknown result with no clauses.
ProfileResult evaluate_profile(std::string_view id, const Receipt& receipt, const Report& report);
// A declaration of the receipt: its profile, marked declared, with whether
// the declared version and hash name the evaluated table.
ProfileResult evaluate_declared(const ProfileRef& declaration, const Receipt& receipt, const Report& report);
// The receipt's declarations in order, then each requested id not yet present.
std::vector<ProfileResult> evaluate_profiles(const Receipt& receipt, const Report& report,
                                             std::span<const std::string> requested);

}  // namespace quillane
