// What every kind-specific check reads: the record, its decoded payload, the
// records before it, the rules and the state built so far.
#pragma once

#include <span>

#include "record/payload.h"
#include "record/record.h"
#include "state/state.h"
#include "verify/rules.h"
#include "verify/verifier/judgement.h"
#include "verify/verifier/prior_index.h"

namespace quillane {

struct CheckInput {
  const Record& record;
  const Payload& payload;
  const Prior& prior;
  const VerifierRules& rules;
  const State& state;
};

// The payload as the structure a kind check expects; null when the record's
// schema carries another structure (the check then answers InvalidPayload).
template <typename T>
const T* payload_as(const CheckInput& in) {
  return std::get_if<T>(&in.payload);
}

// True when some reference is a Require to `id`.
bool has_require_ref(std::span<const Ref> refs, const RecordId& id);
// True when some reference is a Use to `id`.
bool has_use_ref(std::span<const Ref> refs, const RecordId& id);

// The prior record `id` when it exists, is in the record's space and is of
// `kind`; null otherwise.
const Record* prior_of_kind(const CheckInput& in, const RecordId& id, Kind kind);

}  // namespace quillane
