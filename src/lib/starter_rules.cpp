#include "lib/starter_rules.h"

#include <array>
#include <variant>

#include "base/digest.h"
#include "base/quoted.h"
#include "lib/text.h"
#include "verify/rules.h"

namespace quillane {
namespace {

std::string lower_ascii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// `text` already lower-cased.
std::optional<AuthorType> role_from_text(std::string_view text) {
  static constexpr std::array<std::pair<std::string_view, AuthorType>, 5> kRoles = {{
      {"user", AuthorType::User},
      {"provider", AuthorType::Provider},
      {"system", AuthorType::System},
      {"executor", AuthorType::Executor},
      {"verifier", AuthorType::Verifier},
  }};
  for (const auto& [name, type] : kRoles)
    if (name == text) return type;
  return std::nullopt;
}


StarterRulesError violation(std::string message) { return StarterRulesError{false, std::move(message)}; }

}  // namespace

std::variant<std::string, StarterRulesError> build_starter_rules(const StarterRulesArgs& args) {
  if (args.authors.empty()) return violation("default_rules needs at least one author binding");
  VerifierRules rules =
      VerifierRules::make(sha256_utf8("quillane.default_space.v1"), args.max_context).with_baseline_thresholds();

  for (const auto& [actor, role] : args.authors) {
    if (actor.empty()) return violation("author id must be non-empty");
    const std::string lowered = lower_ascii(role);
    auto type = role_from_text(lowered);
    if (!type) return violation("invalid role " + quoted_form(lowered) + " (user|provider|system|executor|verifier)");
    rules.author_roles[actor] = *type;
  }

  const std::pair<const char*, const std::vector<std::string>*> lists[] = {{"admins", &args.admins},
                                                                            {"reaffirmers", &args.reaffirmers}};
  for (const auto& [word, list] : lists)
    for (const auto& actor : *list)
      if (!args.authors.contains(actor))
        return violation(std::string(word) + " entry " + quoted_form(actor) + " has no author binding; add it to authors");
  rules.admin_retraction_actors.insert(args.admins.begin(), args.admins.end());
  rules.reaffirmation_actors.insert(args.reaffirmers.begin(), args.reaffirmers.end());

  if (args.signed_kinds)
    rules.signature_required_kinds = {Kind::Retraction, Kind::Candidate, Kind::Evaluation, Kind::Selection,
                                      Kind::Requirement};

  if (args.author_keys) {
    for (const auto& [actor, keys] : *args.author_keys) {
      const std::string prefix = "author_keys entry " + quoted_form(actor);
      if (!args.authors.contains(actor)) return violation(prefix + " has no author binding; add it to authors");
      if (keys.empty()) return violation(prefix + " lists no keys");
      std::set<Digest>& set = rules.author_keys[actor];
      for (const auto& text : keys) {
        auto key = hex_decode(py::trim_unicode_space(text));
        if (!key) return violation(prefix + ": a public key must be 64 lowercase hex characters");
        set.insert(*key);
      }
    }
  }

  auto text = encode_rules_plain(rules);
  if (!text) return StarterRulesError{true, "cannot serialize rules: " + text.error().message};
  return std::move(text).value();
}

}  // namespace quillane
