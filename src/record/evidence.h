// Evidence classes: a record is never stronger than what it rests on.
#pragma once

#include <span>

#include "base/digest.h"
#include "record/enums.h"

namespace quillane {

// The weaker of two classes (later in declaration order).
constexpr Evidence weakest(Evidence a, Evidence b) { return a > b ? a : b; }
// True when `e` is at least as strong as `threshold`.
constexpr bool meets_threshold(Evidence e, Evidence threshold) { return e <= threshold; }

// Base class of a schema; Assumed for a schema id no table name has.
Evidence base_evidence(const Digest& schema);
// The weakest of the schema's base class and every contribution.
Evidence derive_evidence(const Digest& schema, std::span<const Evidence> contributions);

}  // namespace quillane
