// Turning a pending record into a finished subject (time, derived evidence,
// sorted references, optional signature, id) and materialising its Verdict.
// Pure: no file is touched here.
#pragma once

#include <cstdint>
#include <vector>

#include "base/result.h"
#include "record/record.h"
#include "record/signing.h"
#include "state/state.h"
#include "verify/verifier/judgement.h"
#include "verify/verifier/prior_index.h"

namespace quillane {

// What a caller hands to a commit; the writer fills in the rest.
struct PendingRecord {
  Author author;
  Bytes data;
  std::vector<Ref> refs;  // any order, duplicates allowed
  Digest space{};
  Digest thread{};
  Digest schema{};
  Kind kind = Kind::Request;
};

// Derives the evidence from the references as given (against `state` and the
// records in `prior`), sorts and de-duplicates them, signs when a signer is
// given, and computes the id.
Result<Record> finish_subject(PendingRecord pending, std::uint64_t time, const State& state, const Prior& prior,
                              const Ed25519Signer* signer);

// The Verdict record of a judged subject, at `time`.
Result<Record> materialize_verdict(const Record& subject, std::uint64_t time, Judgement judgement);

}  // namespace quillane
