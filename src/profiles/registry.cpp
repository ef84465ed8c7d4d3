#include "profiles/registry.h"

#include <algorithm>

#include "base/quoted.h"
#include "profiles/core_v1.h"
#include "profiles/delivery_v1.h"
#include "profiles/signed_v1.h"

namespace quillane {
namespace {

struct KnownProfile {
  std::string_view id;
  ProfileTable (*table)();
  ProfileResult (*evaluate)(const Receipt&, const Report&);
};

// Every profile this validator knows; each is one entry.
constexpr KnownProfile kKnownProfiles[] = {
    {kCoreV1Id, core_v1_table, evaluate_core_v1},
    {kSignedV1Id, signed_v1_table, evaluate_signed_v1},
    {kDeliveryV1Id, delivery_v1_table, evaluate_delivery_v1},
};

const KnownProfile* find_known(std::string_view id) {
  for (const KnownProfile& p : kKnownProfiles)
    if (p.id == id) return &p;
  return nullptr;
}

bool has_result(const std::vector<ProfileResult>& results, std::string_view id) {
  return std::any_of(results.begin(), results.end(), [&](const ProfileResult& r) { return r.id == id; });
}

}  // namespace

std::optional<ProfileTable> profile_table(std::string_view id) {
  const KnownProfile* p = find_known(id);
  if (!p) return std::nullopt;
  return p->table();
}

std::optional<ProfileRef> profile_ref(std::string_view id) {
  auto table = profile_table(id);
  if (!table) return std::nullopt;
  return ProfileRef{table->id, table->version, profile_table_hash(*table)};
}

Result<Receipt> with_declared_profiles(Receipt receipt, std::span<const std::string> ids) {
  for (const std::string& id : ids) {
    const bool declared = std::any_of(receipt.profiles.begin(), receipt.profiles.end(),
                                      [&](const ProfileRef& ref) { return ref.id == id; });
    if (declared) return Error{"profile " + quoted_form(id) + " declared more than once"};
    auto ref = profile_ref(id);
    if (!ref) return Error{"unknown profile " + quoted_form(id)};
    receipt.profiles.push_back(std::move(*ref));
  }
  return receipt;
}

ProfileResult evaluate_profile(std::string_view id, const Receipt& receipt, const Report& report) {
  if (const KnownProfile* p = find_known(id)) return p->evaluate(receipt, report);
  ProfileResult unknown;
  unknown.id = std::string(id);
  unknown.status = ProfileStatus::Unknown;
  return unknown;
}

ProfileResult evaluate_declared(const ProfileRef& declaration, const Receipt& receipt, const Report& report) {
  ProfileResult result = evaluate_profile(declaration.id, receipt, report);
  result.declared = true;
  // An unhashable table (all-zero hash) never matches a declaration.
  if (auto table = profile_table(declaration.id))
    result.declaration_matches =
        declaration.version == table->version && declaration.hash == result.hash && result.hash != Digest{};
  return result;
}

std::vector<ProfileResult> evaluate_profiles(const Receipt& receipt, const Report& report,
                                             std::span<const std::string> requested) {
  std::vector<ProfileResult> out;
  out.reserve(receipt.profiles.size() + requested.size());
  for (const ProfileRef& declaration : receipt.profiles) out.push_back(evaluate_declared(declaration, receipt, report));
  for (const std::string& id : requested)
    if (!has_result(out, id)) out.push_back(evaluate_profile(id, receipt, report));
  return out;
}

}  // namespace quillane
