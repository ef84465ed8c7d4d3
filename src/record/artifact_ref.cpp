#include "record/artifact_ref.h"

#include <array>
#include <string_view>
#include <utility>

#include "base/strict_decoders.h"

namespace quillane {
namespace {

constexpr std::array<std::string_view, 3> kFields = {"scheme", "digest", "name"};

bool lower_alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool lower_hex(char c) { return (c >= 'a' && c <= 'f') || (c >= '0' && c <= '9'); }

// Digest length in bytes each known scheme requires.
std::optional<std::size_t> fixed_digest_bytes(std::string_view scheme) {
  static constexpr std::array<std::pair<std::string_view, std::size_t>, 6> kSchemes = {{
      {"git-tree-sha1", 20},
      {"git-tree-sha256", 32},
      {"manifest-v1", 32},
      {"git-archive-tar-v1", 32},
      {"oci-image-manifest", 32},
      {"sha256-bytes", 32},
  }};
  for (const auto& [name, bytes] : kSchemes)
    if (name == scheme) return bytes;
  return std::nullopt;
}

}  // namespace

Result<ArtifactRef> read_artifact_ref(JsonReader& r) {
  ArtifactRef ref;
  FieldSet fields(kFields, FieldSet::first(2));
  QL_TRY(read_fields(r, "struct ArtifactRef", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(ref.scheme, read_text(r));
      case 1: return store(ref.digest, read_text(r));
      default: return store(ref.name, read_optional<std::string>(r, read_text));
    }
  }));
  return ref;
}

Json artifact_ref_json(const ArtifactRef& ref) {
  JsonObject o;
  o.emplace_back("scheme", Json(ref.scheme));
  o.emplace_back("digest", Json(ref.digest));
  o.emplace_back("name", ref.name ? Json(*ref.name) : Json());
  return Json(std::move(o));
}

bool artifact_ref_well_formed(const ArtifactRef& ref) {
  const std::string& s = ref.scheme;
  if (s.empty() || !lower_alnum(s[0])) return false;
  for (std::size_t i = 1; i < s.size(); ++i)
    if (!lower_alnum(s[i]) && s[i] != '.' && s[i] != '-') return false;
  const std::string& d = ref.digest;
  if (d.size() % 2 != 0) return false;
  for (char c : d)
    if (!lower_hex(c)) return false;
  const std::size_t bytes = d.size() / 2;
  if (auto fixed = fixed_digest_bytes(s)) return bytes == *fixed;
  return bytes >= 20 && bytes <= 64;
}

bool artifact_refs_well_formed(const std::vector<ArtifactRef>& refs) {
  for (std::size_t i = 0; i < refs.size(); ++i) {
    if (!artifact_ref_well_formed(refs[i])) return false;
    if (i > 0 && !(refs[i - 1] < refs[i])) return false;
  }
  return true;
}

}  // namespace quillane
