// The starter rules built by default_rules, from already converted arguments.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/result.h"

namespace quillane {

struct StarterRulesArgs {
  std::map<std::string, std::string> authors;  // actor id to role text
  std::uint32_t max_context = 200;
  std::vector<std::string> admins;
  std::vector<std::string> reaffirmers;
  bool signed_kinds = false;
  std::optional<std::map<std::string, std::vector<std::string>>> author_keys;
};

// Errors whose text starts "cannot serialize rules: " are encoding failures;
// every other error is a rule violation in the caller's arguments.
struct StarterRulesError {
  bool encoding = false;
  std::string message;
};

// The rules in their plain encoding, or the first violation in check order.
std::variant<std::string, StarterRulesError> build_starter_rules(const StarterRulesArgs& args);

}  // namespace quillane
