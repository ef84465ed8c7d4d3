#include "lib/starter_rules.h"

#include <array>
#include <variant>

#include "base/digest.h"
#include "base/quoted.h"
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


// Trims leading and trailing Unicode white space (UTF-8 encoded).
std::string_view trim_unicode_space(std::string_view s) {
  auto space_len_at = [&](std::size_t i) -> std::size_t {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
    auto rest = s.substr(i);
    static constexpr std::string_view kMultiByte[] = {
        "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF",
        "\xE2\x81\x9F", "\xE3\x80\x80"};
    for (auto ws : kMultiByte)
      if (rest.starts_with(ws)) return ws.size();
    // U+2000..U+200A
    if (rest.size() >= 3 && static_cast<unsigned char>(rest[0]) == 0xE2 &&
        static_cast<unsigned char>(rest[1]) == 0x80 && static_cast<unsigned char>(rest[2]) >= 0x80 &&
        static_cast<unsigned char>(rest[2]) <= 0x8A)
      return 3;
    return 0;
  };
  std::size_t begin = 0;
  while (begin < s.size()) {
    std::size_t n = space_len_at(begin);
    if (n == 0) break;
    begin += n;
  }
  s.remove_prefix(begin);
  // From the end: step back over whole code points.
  for (;;) {
    std::size_t start = s.size();
    if (start == 0) break;
    do --start;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80);
    if (space_len_at(start) != s.size() - start) break;
    s.remove_suffix(s.size() - start);
  }
  return s;
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
        auto key = hex_decode(trim_unicode_space(text));
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
