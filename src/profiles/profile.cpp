#include "profiles/profile.h"

#include <algorithm>

#include "base/jcs_writer.h"

namespace quillane {

Json profile_table_json(const ProfileTable& table) {
  JsonArray clauses;
  clauses.reserve(table.clauses.size());
  for (const Clause& c : table.clauses) {
    JsonObject o;
    o.reserve(2);
    o.emplace_back("id", Json(c.id));
    o.emplace_back("statement", Json(c.statement));
    clauses.push_back(Json(std::move(o)));
  }
  JsonObject o;
  o.reserve(3);
  o.emplace_back("id", Json(table.id));
  o.emplace_back("version", Json(table.version));
  o.emplace_back("clauses", Json(std::move(clauses)));
  return Json(std::move(o));
}

Digest profile_table_hash(const ProfileTable& table) {
  auto bytes = canonical_json(profile_table_json(table));
  return bytes ? sha256(*bytes) : Digest{};
}

std::string_view profile_status_name(ProfileStatus status) {
  switch (status) {
    case ProfileStatus::Conformant: return "Conformant";
    case ProfileStatus::NonConformant: return "NonConformant";
    case ProfileStatus::Unknown: break;
  }
  return "Unknown";
}

ProfileResult finish_profile(const ProfileTable& table, std::vector<ClauseResult> clauses) {
  ProfileResult result;
  result.id = table.id;
  result.hash = profile_table_hash(table);
  const bool all_passed = std::all_of(clauses.begin(), clauses.end(), [](const ClauseResult& c) { return c.passed; });
  result.status = all_passed ? ProfileStatus::Conformant : ProfileStatus::NonConformant;
  result.clauses = std::move(clauses);
  return result;
}

std::vector<ClauseResult> all_clauses_failed(const ProfileTable& table, std::string_view detail) {
  std::vector<ClauseResult> out;
  out.reserve(table.clauses.size());
  for (const Clause& c : table.clauses) out.push_back(ClauseResult{c.id, false, std::string(detail)});
  return out;
}

std::string short_id(const Digest& id) { return hex_encode(id).substr(0, 12); }

}  // namespace quillane
