// Record identity: the id is the SHA-256 of the canonical id form, which is
// every field but the id itself, with the signature only when there is one.
#pragma once

#include <vector>

#include "base/json_value.h"
#include "base/result.h"
#include "record/record.h"

namespace quillane {

// The id form: author.signature is left out entirely when unsigned.
Json canonical_id_form(const Record& record);
// The signed message: {"domain": ..., "record": the id form without signature}.
Json signing_form(const Record& record);

inline constexpr std::string_view kSignatureDomain = "quillane.record-signature.v0.3";

// SHA-256 of the canonical id form; the stored id is ignored.
Result<RecordId> compute_id(const Record& record);
Result<Record> with_computed_id(Record record);

// Sorts by type then target and drops entries equal to their predecessor.
void sort_and_dedup_refs(std::vector<Ref>& refs);

}  // namespace quillane
