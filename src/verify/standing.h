// Standing of the evolution graph: unsound Selections, compromised
// Candidates, and the reaffirmations that restore unsound Selections.
#pragma once

#include <map>
#include <set>
#include <span>

#include "record/record.h"
#include "state/state.h"

namespace quillane {

struct StandingSection {
  std::set<RecordId> compromised;
  std::set<RecordId> unsound;
  std::map<RecordId, std::set<RecordId>> restorations;
  bool operator==(const StandingSection&) const = default;
};

StandingSection derive_standing(std::span<const Record> records, const State& state);

}  // namespace quillane
