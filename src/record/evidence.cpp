#include "record/evidence.h"

#include <array>

#include "base/schema.h"

namespace quillane {
namespace {

// Base class of each entry of the schema-name table, in table order.
constexpr std::array<Evidence, kSchemaNames.size()> kBaseEvidence = {
    Evidence::Reported,       // request
    Evidence::Reported,       // action
    Evidence::Reported,       // response
    Evidence::Reported,       // result
    Evidence::Verified,       // result.external_receipt
    Evidence::Reported,       // result.effect_confirmation
    Evidence::Reported,       // capability
    Evidence::Reported,       // approval
    Evidence::Inferred,       // summary
    Evidence::Reported,       // refusal
    Evidence::Reported,       // usage
    Evidence::Deterministic,  // verdict
    Evidence::Inferred,       // plan
    Evidence::Reported,       // retraction
    Evidence::Reported,       // candidate
    Evidence::Reported,       // evaluation.v1
    Evidence::Inferred,       // selection
    Evidence::Reported,       // requirement
    Evidence::Reported,       // evaluation.v2
    Evidence::Verified,       // evaluation.attested
};

}  // namespace

Evidence base_evidence(const Digest& schema) {
  const auto index = schema_index_for_id(schema);
  return index ? kBaseEvidence[*index] : Evidence::Assumed;
}

Evidence derive_evidence(const Digest& schema, std::span<const Evidence> contributions) {
  Evidence e = base_evidence(schema);
  for (Evidence c : contributions) e = weakest(e, c);
  return e;
}

}  // namespace quillane
