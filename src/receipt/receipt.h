// The receipt: the portable export of a whole log (its rules and every
// record in log order) with the profiles its exporter declares.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/digest.h"
#include "base/json_reader.h"
#include "base/json_value.h"
#include "base/result.h"
#include "record/record.h"
#include "verify/rules.h"

namespace quillane {

// The spec epoch every receipt built here carries.
inline constexpr std::string_view kReceiptSpecVersion = "0.4";

// One profile declaration: the profile id, its table version and table hash.
struct ProfileRef {
  std::string id;
  std::uint32_t version = 0;
  Digest hash{};
  bool operator==(const ProfileRef&) const = default;
};

struct Receipt {
  std::string spec_version;
  std::vector<ProfileRef> profiles;  // in declaration order; empty when none
  VerifierRules rules;
  std::vector<Record> records;  // the whole log, in log order
  bool operator==(const Receipt&) const = default;

  // A receipt of the current epoch with no declarations.
  static Receipt make(std::span<const Record> records, const VerifierRules& rules);
  static Receipt make(std::vector<Record>&& records, const VerifierRules& rules);

  // Canonical JSON bytes; `profiles` is left out when empty.
  Result<std::string> to_bytes() const;

  // Strict parse of receipt bytes; checks the shape only.
  static Result<Receipt> from_bytes(std::string_view bytes);
};

Json profile_ref_json(const ProfileRef& ref);
Result<ProfileRef> read_profile_ref(JsonReader& r);

}  // namespace quillane
