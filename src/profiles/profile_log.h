// What the stronger profiles share: the receipt's records indexed over the
// state they rebuild, and the clause that requires the core tier.
#pragma once

#include <map>
#include <string>

#include "base/result.h"
#include "profiles/profile.h"
#include "receipt/receipt.h"
#include "receipt/report.h"
#include "state/state.h"

namespace quillane {

// The receipt's records by id, with the state they rebuild without judging.
// Points into the receipt, which must outlive it.
struct ProfileLog {
  State state;
  std::map<RecordId, const Record*> by_id;

  // The record with this id, or null.
  const Record* find(const RecordId& id) const;
  // The record with this id when it is of `kind` and accepted, or null.
  const Record* accepted(const RecordId& id, Kind kind) const;
};

// The index of a receipt, or the detail every clause of a profile fails with
// when there is nothing to judge: "receipt is Invalid" or "state could not be
// rebuilt".
Result<ProfileLog> profile_log(const Receipt& receipt, const Report& report);

// The receipt meets quillane-core-v1, judged by its first declaration of
// that profile, or as a fallback when it declares none. The detail names
// the core status and how it was reached.
ClauseResult core_tier_clause(std::string clause_id, const Receipt& receipt, const Report& report);

}  // namespace quillane
