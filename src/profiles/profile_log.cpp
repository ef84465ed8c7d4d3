#include "profiles/profile_log.h"

#include <algorithm>
#include <utility>

#include "profiles/core_v1.h"
#include "profiles/registry.h"

namespace quillane {

const Record* ProfileLog::find(const RecordId& id) const {
  auto it = by_id.find(id);
  return it == by_id.end() ? nullptr : it->second;
}

const Record* ProfileLog::accepted(const RecordId& id, Kind kind) const {
  const Record* record = find(id);
  return record != nullptr && record->kind == kind && state.accepted(id) ? record : nullptr;
}

Result<ProfileLog> profile_log(const Receipt& receipt, const Report& report) {
  if (report.status == ValidationStatus::Invalid) return Error{"receipt is Invalid"};
  auto state = build_state_unchecked(receipt.records);
  if (!state) return Error{"state could not be rebuilt"};
  ProfileLog log{std::move(*state), {}};
  // The first record of an id wins; a validated receipt has no repeats.
  for (const Record& record : receipt.records) log.by_id.emplace(record.id, &record);
  return log;
}

ClauseResult core_tier_clause(std::string clause_id, const Receipt& receipt, const Report& report) {
  auto declaration = std::find_if(receipt.profiles.begin(), receipt.profiles.end(),
                                  [](const ProfileRef& ref) { return ref.id == kCoreV1Id; });
  const bool declared = declaration != receipt.profiles.end();
  const ProfileResult core =
      declared ? evaluate_declared(*declaration, receipt, report) : evaluate_profile(kCoreV1Id, receipt, report);
  std::string note;
  if (!declared)
    note = " (not declared; evaluated as the fallback)";
  else if (!core.declaration_matches)
    note = " (declared)";
  else
    note = *core.declaration_matches ? " (declared, declaration matches)" : " (declared, DECLARATION MISMATCH)";
  return {std::move(clause_id), core.status == ProfileStatus::Conformant && core.declaration_matches != false,
          std::string(kCoreV1Id) + ": " + std::string(profile_status_name(core.status)) + note};
}

}  // namespace quillane
