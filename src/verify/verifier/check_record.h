// The checks every record goes through, in their fixed order; the first
// failure decides.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "record/record.h"
#include "state/state.h"
#include "verify/rules.h"
#include "verify/verifier/judgement.h"
#include "verify/verifier/prior_index.h"

namespace quillane {

Judgement check_record(const Record& record, const Prior& prior, const VerifierRules& rules, const State& state);

// The same, for a caller that has already checked the record's id (the
// replay checks every id before it walks the log).
Judgement check_record_with_known_id(const Record& record, const Prior& prior, const VerifierRules& rules,
                                     const State& state, bool id_verified);

struct RecordVerdict {
  bool accepted = true;
  std::uint8_t reason = Judgement::kAcceptByte;
};

// Judges a record against a whole prior log (indexing it first).
RecordVerdict verify_record(const Record& record, std::span<const Record> prior_records, const VerifierRules& rules,
                            const State& state);

// The payload must decode as its schema's structure and be canonical.
Judgement check_payload_decode(const Record& record);

// The fields that identify what a replacing record replaces must agree with
// the replaced record's payload.
Judgement check_replacement_compatibility(const Record& record, std::string_view replaced_payload);

}  // namespace quillane
