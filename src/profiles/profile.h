// Profiles: named, versioned, hashed clause tables that a validated receipt
// meets or not, and the results of judging one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/digest.h"
#include "base/json_value.h"

namespace quillane {

struct Clause {
  std::string id;
  std::string statement;
  bool operator==(const Clause&) const = default;
};

struct ProfileTable {
  std::string id;
  std::uint32_t version = 0;
  std::vector<Clause> clauses;  // in table order
  bool operator==(const ProfileTable&) const = default;
};

// {"id", "version", "clauses": [{"id", "statement"}, ...]}.
Json profile_table_json(const ProfileTable& table);
// SHA-256 of the canonical JSON of the table; all zero if it cannot be encoded.
Digest profile_table_hash(const ProfileTable& table);

enum class ProfileStatus : std::uint8_t { Conformant, NonConformant, Unknown };
std::string_view profile_status_name(ProfileStatus status);

struct ClauseResult {
  std::string id;
  bool passed = false;
  std::string detail;
  bool operator==(const ClauseResult&) const = default;
};

struct ProfileResult {
  std::string id;
  std::vector<ClauseResult> clauses;  // one per table clause; empty when Unknown
  Digest hash{};                      // of the evaluated table; zero when Unknown
  bool declared = false;
  ProfileStatus status = ProfileStatus::Unknown;
  // Declared and known: whether the declared version and hash name the table.
  std::optional<bool> declaration_matches;
  bool operator==(const ProfileResult&) const = default;

  // Conformant, and not declared with a mismatching version or hash.
  bool met() const { return status == ProfileStatus::Conformant && declaration_matches != false; }
};

// The result of a known table from its clause results: Conformant exactly
// when every clause passed; not declared.
ProfileResult finish_profile(const ProfileTable& table, std::vector<ClauseResult> clauses);
// Every clause of the table, failed with the same detail.
std::vector<ClauseResult> all_clauses_failed(const ProfileTable& table, std::string_view detail);

// The first 12 characters of the id's lowercase hex.
std::string short_id(const Digest& id);

}  // namespace quillane
